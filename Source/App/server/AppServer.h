// The static local web server: serves the editor's folder over HTTP on 127.0.0.1 at the first
// free port of a range, so that the editor page loads from an http origin. GET only, byte
// ranges, long caching for requests that name a content hash, nothing outside the folder.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <libsoup/soup.h>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

typedef struct _SoupServer SoupServer;

namespace kx {

class AppServer {
public:
    static constexpr int firstPort = 5567;
    static constexpr int lastPort = 5667;

    // Starts the process's one server over the editor folder and keeps it as `shared()`; a
    // second call only logs, and a server that cannot start leaves `shared()` null.
    static void start();
    static AppServer* shared();

    explicit AppServer(std::filesystem::path folder);
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
    static void handle(SoupServer* server, struct _SoupServerMessage* message, const char* path,
                       struct _GHashTable* query, void* data);

    std::filesystem::path folder_;
    SoupServer* server_ = nullptr;
    int port_ = 0;
};

} // namespace kx
