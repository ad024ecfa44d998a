// A small HTTP server on 127.0.0.1 for tests that load real pages or talk to a peer: each path
// answers a fixed body, or is answered by the test's own handler. It serves from the main
// loop, so a test serves while it spins. With a certificate it speaks HTTPS.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace kxtest {

class HttpServer {
public:
    HttpServer();
    // HTTPS with the certificate and key of a PEM file (Tests/fixtures/tls/self-signed.pem).
    explicit HttpServer(const std::filesystem::path& certificateAndKey);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Answers `path` with 200 and the body; other paths get 404.
    void route(const std::string& path, std::string body, std::string contentType = "text/html; charset=utf-8");
    // Answers `path` with whatever `handler` makes of the message (status, headers, body,
    // pausing it); the handler may also read the request.
    using Handler = std::function<void(SoupServerMessage* message)>;
    void handle(const std::string& path, Handler handler);
    // "http://127.0.0.1:<port><path>" (https with a certificate)
    std::string url(const std::string& path) const;
    int port() const { return port_; }
    int requestCount(const std::string& path) const;

private:
    void listen(bool https);

    struct Route {
        std::string body;
        std::string contentType;
        Handler handler;
        int requests = 0;
    };
    SoupServer* server_ = nullptr;
    bool https_ = false;
    int port_ = 0;
    std::map<std::string, Route> routes_;
};

} // namespace kxtest
