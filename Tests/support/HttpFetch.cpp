#include "support/HttpFetch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include "support/Spin.h"

namespace kxtest {

HttpResponse fetch(const std::string& url, const std::string& method, const std::map<std::string, std::string>& headers,
                   kxtest::SourceLocation where)
{
    HttpResponse response;
    GProxyResolver* direct = g_simple_proxy_resolver_new(nullptr, nullptr);
    SoupSession* session = soup_session_new_with_options("proxy-resolver", direct, nullptr);
    g_object_unref(direct);
    SoupMessage* message = soup_message_new(method.c_str(), url.c_str());
    if (!message) {
        g_object_unref(session);
        return response;
    }
    for (const auto& [name, value] : headers)
        soup_message_headers_replace(soup_message_get_request_headers(message), name.c_str(), value.c_str());

    // Shared with the callback, which may come after this wait has given up.
    struct Pending {
        bool done = false;
        GBytes* body = nullptr;
    };
    auto pending = std::make_shared<Pending>();
    GCancellable* cancellable = g_cancellable_new();
    soup_session_send_and_read_async(
        session, message, G_PRIORITY_DEFAULT, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Pending>> pending(static_cast<std::shared_ptr<Pending>*>(data));
            (*pending)->body = soup_session_send_and_read_finish(SOUP_SESSION(source), result, nullptr);
            (*pending)->done = true;
        },
        new std::shared_ptr<Pending>(pending));
    if (!spinUntil([&] { return pending->done; }, std::chrono::seconds(30), where)) {
        ADD_FAILURE_AT(where.file_name(), int(where.line())) << "no answer to " << method << " " << url;
        g_cancellable_cancel(cancellable);
    }
    g_object_unref(cancellable);
    if (pending->body) {
        response.status = soup_message_get_status(message);
        gsize size = 0;
        const char* data = static_cast<const char*>(g_bytes_get_data(pending->body, &size));
        response.body.assign(data ? data : "", size);
        g_bytes_unref(pending->body);
        pending->body = nullptr;
        SoupMessageHeadersIter iter;
        soup_message_headers_iter_init(&iter, soup_message_get_response_headers(message));
        const char *name, *value;
        while (soup_message_headers_iter_next(&iter, &name, &value))
            response.headers[name] = value;
    }
    g_object_unref(message);
    g_object_unref(session);
    return response;
}

std::string rawRequest(int port, const std::string& request, kxtest::SourceLocation where)
{
    std::string answer;
    std::atomic<bool> done = false;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    // A server that never answers or never closes still ends the exchange.
    const timeval limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::thread client([&] {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            char buffer[4096];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, static_cast<size_t>(n));
        }
        done = true;
    });
    if (!spinUntil([&] { return done.load(); }, std::chrono::seconds(70), where)) {
        ADD_FAILURE_AT(where.file_name(), int(where.line())) << "no end to the request to port " << port;
        // The wait was cut (by a wait around this one): the client stops now, not at its time-outs.
        ::shutdown(fd, SHUT_RDWR);
    }
    client.join();
    ::close(fd);
    return answer;
}

} // namespace kxtest
