// A small HTTP server on 127.0.0.1 for tests that load real pages: each path answers a fixed
// body. It serves from the main loop, so a test serves while it spins.
#pragma once

#include <map>
#include <string>

typedef struct _SoupServer SoupServer;

namespace kxtest {

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Answers `path` with 200 and the body; other paths get 404.
    void route(const std::string& path, std::string body, std::string contentType = "text/html; charset=utf-8");
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path) const;
    int requestCount(const std::string& path) const;

private:
    struct Route {
        std::string body;
        std::string contentType;
        int requests = 0;
    };
    SoupServer* server_;
    int port_ = 0;
    std::map<std::string, Route> routes_;
};

} // namespace kxtest
