// Helpers of the static server's tests: a port held by someone else, and a plain HTTP client
// that works on the calling thread without turning the main loop (the server never needs it).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kxtest {

// A listening socket on an ephemeral loopback port, held for the test's lifetime.
struct TakenPort {
    kx::GObjectRef<GSocket> socket;
    int port = 0;
    TakenPort()
    {
        socket = kx::GObjectRef<GSocket>::adopt(
            g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr));
        auto loopback = kx::GObjectRef<GInetAddress>::adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
        auto address = kx::GObjectRef<GSocketAddress>::adopt(g_inet_socket_address_new(loopback.get(), 0));
        g_socket_bind(socket.get(), address.get(), FALSE, nullptr);
        g_socket_listen(socket.get(), nullptr);
        auto local = kx::GObjectRef<GSocketAddress>::adopt(g_socket_get_local_address(socket.get(), nullptr));
        port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local.get()));
    }
};

inline std::vector<std::string> answersIn(const std::string& text);

// One connection; every wait gives up after ten seconds rather than hang the test. With
// `localPort`, it is made from that port (as a client whose last connection from it was reset
// may); with `receiveBuffer`, the kernel holds that little of what is not read yet.
class BlockingClient {
public:
    explicit BlockingClient(int port, int localPort = 0, int receiveBuffer = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (receiveBuffer)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        address.sin_port = htons(static_cast<uint16_t>(localPort));
        if (localPort && ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0)
            ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        address.sin_port = htons(static_cast<uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~BlockingClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    BlockingClient(const BlockingClient&) = delete;
    BlockingClient& operator=(const BlockingClient&) = delete;

    bool send(const std::string& text) { return connected_ && ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size()); }
    void closeSending() { ::shutdown(fd_, SHUT_WR); }
    // Ends the connection with a reset, as a client that gives up on it does.
    void reset()
    {
        linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(std::exchange(fd_, -1));
    }
    int localPort() const
    {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }
    void get(const std::string& path) { send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"); }

    // Reads until `received` holds at least `count` bytes (or `answers` whole answers), the peer
    // closes (`closed`), or the time-out passes (`timedOut`).
    void receive(std::size_t count = std::string::npos, std::size_t answers = 0)
    {
        char buffer[65536];
        while (received.size() < count && (answers == 0 || answersIn(received).size() < answers)) {
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                received.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            closed = n == 0 || errno == ECONNRESET;
            timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return;
        }
    }
    void receiveAnswers(std::size_t count) { receive(std::string::npos, count); }
    // Reads what has come, `most` bytes at most, without waiting; false once the peer closed.
    bool receiveAvailable(std::size_t most = std::string::npos)
    {
        char buffer[65536];
        while (most > 0) {
            ssize_t n = ::recv(fd_, buffer, std::min(most, sizeof buffer), MSG_DONTWAIT);
            if (n <= 0) {
                closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                return !closed;
            }
            received.append(buffer, static_cast<std::size_t>(n));
            most -= static_cast<std::size_t>(n);
        }
        return true;
    }
    // Not closed or reset by the server, whatever it sent that is not read yet.
    bool isOpen() const
    {
        tcp_info info{};
        socklen_t size = sizeof info;
        return ::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && info.tcpi_state == TCP_ESTABLISHED;
    }

    std::string received;
    bool closed = false;
    bool timedOut = false;

private:
    int fd_ = -1;
    bool connected_ = false;
};

// The sockets this process has open (not the descriptors GLib may open lazily on its own).
inline int openSockets()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        count += std::filesystem::read_symlink(entry.path(), ec).string().starts_with("socket:");
    }
    return count;
}

// A whole exchange on the calling thread.
inline std::string blockingGet(int port, const std::string& path, const std::string& headers = {})
{
    BlockingClient client(port);
    client.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers + "\r\n");
    client.receive();
    return client.received;
}

// The value of a header in a raw answer ("" when absent); names compared exactly.
inline std::string headerOf(const std::string& answer, const std::string& name)
{
    auto at = answer.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > answer.find("\r\n\r\n"))
        return {};
    at += name.size() + 4;
    return answer.substr(at, answer.find("\r\n", at) - at);
}

// The whole answers at the start of `text`, one after another: a head, then as many bytes as
// its Content-Length says (none after a 304).
inline std::vector<std::string> answersIn(const std::string& text)
{
    std::vector<std::string> answers;
    for (std::size_t at = 0;;) {
        auto end = text.find("\r\n\r\n", at);
        if (end == std::string::npos)
            return answers;
        end += 4;
        std::string head = text.substr(at, end - at);
        std::string length = headerOf(head, "Content-Length");
        end += head.starts_with("HTTP/1.1 304") || length.empty() ? 0 : std::stoul(length);
        if (end > text.size())
            return answers;
        answers.push_back(text.substr(at, end - at));
        at = end;
    }
}

inline std::string bodyOf(const std::string& answer)
{
    auto at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

} // namespace kxtest
