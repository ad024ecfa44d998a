// The static local web server: serves the editor's folder over HTTP on 127.0.0.1 at the first
// free port of a range, so that the editor page loads from an http origin. GET only, byte
// ranges, long caching for requests that name a content hash, nothing outside the folder.
// Connections are accepted on a thread of their own and served by a few worker threads
// (AppServerWorker); the application's main loop does none of it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>

#include <libsoup/soup.h>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class AppServerWorker;

class AppServer {
public:
    static constexpr int firstPort = 5567;
    static constexpr int lastPort = 5667;
    // Connections waiting to be accepted; GLib's default of 10 drops the SYNs of a burst.
    static constexpr int listenBacklog = 128;
    static constexpr int defaultWorkerCount = 4;

    // Starts the process's one server over the editor folder and keeps it as `shared()`; a
    // second call only logs, and a server that cannot start leaves `shared()` null.
    static void start();
    static AppServer* shared();

    explicit AppServer(std::filesystem::path folder, int workerCount = defaultWorkerCount);
    ~AppServer();
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;

    // Listens on the first port from `first` to `last` that is free.
    Result<Unit, Error> listen(int first = firstPort, int last = lastPort);
    int port() const { return port_; }
    // "http://127.0.0.1:<port>/"
    std::string url() const;
    const std::filesystem::path& folder() const { return folder_; }

    // The editor folder that `start()` serves (the installed editor of the application-support
    // folder); nullopt when there is none.
    static std::optional<std::filesystem::path> editorFolder();

private:
    void acceptConnections(); // the acceptor thread

    std::filesystem::path folder_;
    int workerCount_;
    int port_ = 0;
    GObjectRef<GSocket> listener_;
    GObjectRef<GCancellable> stopping_;
    std::vector<std::unique_ptr<AppServerWorker>> workers_; // made and used on the acceptor thread
    std::thread acceptor_;
};

} // namespace kx
