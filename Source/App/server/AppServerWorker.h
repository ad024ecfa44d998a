// One thread of the static local web server: a main context and a SoupServer of its own (now
// and then a fresh one, see Server in the .cpp), which take the connections the server's
// acceptor hands over and answer their requests. Reading files and writing responses happen
// here, never on the application's main loop, so neither a large file nor a slow client holds
// up the user interface.
//
// A connection stays open for its client's next request, and requests sent ahead on it are
// answered in turn, but no client holds one for ever: a connection that waits `idle` for a whole
// request (the next one, or one arriving a byte at a time) is closed, and so is one whose client
// takes nothing of its response for `stall`.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SourceHandle.h"

typedef struct _SoupServerMessage SoupServerMessage;

namespace kx {

class AppServerWorker {
public:
    // Returns once the thread is ready to take connections.
    AppServerWorker(std::filesystem::path folder, std::chrono::seconds idle, std::chrono::seconds stall);
    // Closes the worker's connections and joins its thread.
    ~AppServerWorker();
    AppServerWorker(const AppServerWorker&) = delete;
    AppServerWorker& operator=(const AppServerWorker&) = delete;

    // Any thread: the worker takes over an accepted connection.
    void adopt(GObjectRef<GSocket> socket);
    // Any thread: the connections handed over that are not closed yet.
    int connectionCount() const { return connectionCount_.load(std::memory_order_relaxed); }

private:
    struct Server;
    struct Connection {
        GObjectRef<GSocket> socket;
        Server* server;      // the one that serves it
        gint64 waitingSince; // monotonic time; 0 while one of its requests is being answered
        bool ended = false;  // shut down, for libsoup to see
    };

    void run();
    std::unique_ptr<Server> makeServer();
    void serve(GSocket* socket); // on the worker's thread
    void requestRead(SoupServerMessage* message);
    void requestEnded(SoupServerMessage* message);
    void forget(std::map<std::string, Connection>::iterator connection);
    bool closeIdleConnections();

    std::filesystem::path folder_;
    std::chrono::seconds idle_;
    std::chrono::seconds stall_;
    GMainContext* context_;
    GMainLoop* loop_;
    // The worker's thread only, from here on.
    std::unique_ptr<Server> server_;               // takes the new connections
    std::vector<std::unique_ptr<Server>> retired_; // keep theirs until they close
    std::map<std::string, Connection> connections_; // by the client's address
    std::vector<std::string> ended_; // connections whose request just ended
    SourceHandle forget_;
    SourceHandle sweep_;
    std::atomic<int> connectionCount_ { 0 };
    std::thread thread_;
};

} // namespace kx
