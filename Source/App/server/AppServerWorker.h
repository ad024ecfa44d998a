// One thread of the static local web server: a main context and a SoupServer of its own, which
// take the connections the server's acceptor hands over and answer their requests. Reading
// files and writing responses happen here, never on the application's main loop, so neither a
// large file nor a slow client holds up the user interface.
#pragma once

#include <filesystem>
#include <thread>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"

typedef struct _SoupServer SoupServer;

namespace kx {

class AppServerWorker {
public:
    // Returns once the thread is ready to take connections.
    explicit AppServerWorker(std::filesystem::path folder);
    // Closes the worker's connections and joins its thread.
    ~AppServerWorker();
    AppServerWorker(const AppServerWorker&) = delete;
    AppServerWorker& operator=(const AppServerWorker&) = delete;

    // Any thread: the worker takes over an accepted connection.
    void adopt(GObjectRef<GSocket> socket);

private:
    void run();
    void serve(GSocket* socket); // on the worker's thread

    std::filesystem::path folder_;
    GMainContext* context_;
    GMainLoop* loop_;
    GObjectRef<SoupServer> server_; // the worker's thread only
    std::thread thread_;
};

} // namespace kx
