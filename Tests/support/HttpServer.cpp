#include "support/HttpServer.h"

#include <stdexcept>

#include <libsoup/soup.h>

namespace kxtest {

HttpServer::HttpServer()
    : server_(soup_server_new(nullptr, nullptr))
{
    listen(false);
}

HttpServer::HttpServer(const std::filesystem::path& certificateAndKey)
{
    GError* error = nullptr;
    GTlsCertificate* certificate = g_tls_certificate_new_from_file(certificateAndKey.c_str(), &error);
    if (!certificate) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot read " + certificateAndKey.string() + ": " + message);
    }
    server_ = soup_server_new("tls-certificate", certificate, nullptr);
    g_object_unref(certificate);
    listen(true);
}

void HttpServer::listen(bool https)
{
    https_ = https;
    GError* error = nullptr;
    const auto options = SoupServerListenOptions(SOUP_SERVER_LISTEN_IPV4_ONLY | (https ? SOUP_SERVER_LISTEN_HTTPS : 0));
    if (!soup_server_listen_local(server_, 0, options, &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(server_);
        throw std::runtime_error("cannot listen on 127.0.0.1: " + message);
    }
    GSList* uris = soup_server_get_uris(server_);
    port_ = uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : 0;
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    soup_server_add_handler(
        server_, nullptr,
        +[](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
            auto& routes = static_cast<HttpServer*>(data)->routes_;
            auto found = routes.find(path);
            if (found == routes.end()) {
                soup_server_message_set_status(message, 404, nullptr);
                return;
            }
            ++found->second.requests;
            if (found->second.handler) {
                found->second.handler(message);
                return;
            }
            soup_server_message_set_status(message, 200, nullptr);
            soup_server_message_set_response(message, found->second.contentType.c_str(), SOUP_MEMORY_COPY,
                                             found->second.body.data(), found->second.body.size());
        },
        this, nullptr);
}

HttpServer::~HttpServer()
{
    soup_server_disconnect(server_);
    g_object_unref(server_);
}

void HttpServer::route(const std::string& path, std::string body, std::string contentType)
{
    routes_[path] = Route{std::move(body), std::move(contentType), nullptr, 0};
}

void HttpServer::handle(const std::string& path, Handler handler)
{
    routes_[path] = Route{{}, {}, std::move(handler), 0};
}

std::string HttpServer::url(const std::string& path) const
{
    return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

int HttpServer::requestCount(const std::string& path) const
{
    auto found = routes_.find(path);
    return found == routes_.end() ? 0 : found->second.requests;
}

} // namespace kxtest
