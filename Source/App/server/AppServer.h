// The static local web server: serves the editor's folder over HTTP on 127.0.0.1 at the first
// free port of a range, so that the editor page loads from an http origin. GET only, byte
// ranges, long caching for requests that name a content hash, nothing outside the folder.
// Connections are accepted on a thread of their own and served by a few worker threads
// (AppServerWorker); the application's main loop does none of it. Connections stay open for
// their next requests, within `Limits`.
#pragma once

#include <atomic>
#include <chrono>
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
    // Connections waiting to be accepted. GLib's default of 10 drops the SYNs of a burst, and so
    // does 128 when a few hundred clients that the server closes connect again at once: a client
    // whose SYN is dropped tries again only a second later.
    static constexpr int listenBacklog = 1024;
    static constexpr int defaultWorkerCount = 4;

    // How many connections stay open at once, and how long an unproductive one stays.
    struct Limits {
        // Past it, each answer ends its connection and each new one makes room (AppServerWorker);
        // past `connections / 8` more (the hard cap), one goes at once if one may; more than
        // `connections / 2` past it wait to be accepted, and the last `connections / 8` before
        // that get short answers only, when none of the others may go.
        int connections;
        // A connection that waits this long for a whole request (the next one, or one arriving a
        // byte at a time) is closed,
        std::chrono::seconds idle;
        // and so is one whose client takes nothing of its response for this long.
        std::chrono::seconds stall;
    };
    // The server's descriptors: two a connection at most (itself, the file it answers with, which
    // goes with it), so 2 × 384, beside those it holds at rest: two for each worker's server (a
    // retired one keeps none), the acceptor's one and the event descriptors of its threads. Some
    // 780 of the process's usual 1,024, leaving the rest to the browser engine and to saving
    // documents.
    static constexpr Limits defaultLimits{256, std::chrono::seconds(15), std::chrono::seconds(30)};

    // Starts the process's one server over the editor folder and keeps it as `shared()`; a
    // second call only logs, and a server that cannot start leaves `shared()` null.
    static void start();
    static AppServer* shared();

    explicit AppServer(std::filesystem::path folder, int workerCount = defaultWorkerCount,
                       Limits limits = defaultLimits);
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
    int most() const;         // connections accepted at once

    std::filesystem::path folder_;
    int workerCount_;
    Limits limits_;
    int port_ = 0;
    GObjectRef<GSocket> listener_;
    GObjectRef<GCancellable> stopping_;
    std::atomic<int> open_{0}; // the workers' connections, counted when handed over
    std::vector<std::unique_ptr<AppServerWorker>> workers_; // made and used on the acceptor thread
    std::thread acceptor_;
};

} // namespace kx
