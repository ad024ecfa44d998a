#include "App/server/AppServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

#include "App/server/AppServerWorker.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/AlternateSignalStack.h"

namespace kx {

namespace {

// A small send buffer bounds how much one connection writes in one turn of its worker's loop,
// so that a burst of large responses cannot keep a small one waiting for long.
constexpr int sendBufferSize = 128 * 1024;

std::unique_ptr<AppServer>& sharedServer()
{
    static std::unique_ptr<AppServer> server;
    return server;
}

} // namespace

void AppServer::start()
{
    auto& server = sharedServer();
    if (server) {
        RKLog("App Server already started", RKLogKind::appServerMessage);
        return;
    }
    auto folder = editorFolder();
    auto candidate = folder ? std::make_unique<AppServer>(*folder) : nullptr;
    if (!candidate || candidate->listen().isFailure()) {
        RKLog("Failed to start App Server", RKLogKind::appServerFailure);
        return;
    }
    RKLog("App Server started at " + candidate->url(), RKLogKind::appServerMessage);
    server = std::move(candidate);
}

AppServer* AppServer::shared()
{
    return sharedServer().get();
}

std::optional<std::filesystem::path> AppServer::editorFolder()
{
    return AppInfo::current()->nimbetDir();
}

AppServer::AppServer(std::filesystem::path folder, int workerCount, Limits limits)
    : folder_(std::move(folder))
    , workerCount_(std::max(1, workerCount))
    , limits_(limits)
{
}

AppServer::~AppServer()
{
    if (acceptor_.joinable()) {
        g_cancellable_cancel(stopping_.get());
        acceptor_.join();
    }
    if (listener_)
        g_socket_close(listener_.get(), nullptr);
    workers_.clear();
}

std::string AppServer::url() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

Result<Unit, Error> AppServer::listen(int first, int last)
{
    using R = Result<Unit, Error>;
    if (listener_)
        return R::failure(Error(Error::posixDomain, EALREADY, "The server is already listening."));

    auto loopback = GObjectRef<GInetAddress>::adopt(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    std::string lastFailure = "no port to try";
    for (int port = first; port <= last && !listener_; ++port) {
        GError* error = nullptr;
        auto socket = GObjectRef<GSocket>::adopt(
            g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, &error));
        auto address = GObjectRef<GSocketAddress>::adopt(
            g_inet_socket_address_new(loopback.get(), static_cast<guint16>(port)));
        if (socket) {
            g_socket_set_listen_backlog(socket.get(), listenBacklog);
            // Address reuse lets a restarted application have its old port (and the editor's
            // storage, which goes by origin) while the last run's connections time out.
            if (g_socket_bind(socket.get(), address.get(), TRUE, &error) && g_socket_listen(socket.get(), &error)) {
                listener_ = std::move(socket);
                port_ = port;
                break;
            }
        }
        lastFailure = error ? error->message : "cannot make a socket";
        if (error)
            g_error_free(error);
    }
    if (!listener_)
        return R::failure(Error(Error::posixDomain, EADDRINUSE,
                                "No free port from " + std::to_string(first) + " to " + std::to_string(last) + ".",
                                lastFailure));

    stopping_ = GObjectRef<GCancellable>::adopt(g_cancellable_new());
    // The workers start on the acceptor's thread, not holding up the launch; connections that
    // come first wait in the backlog until they are there.
    acceptor_ = startThread([this] {
        const int eighth = std::max(1, limits_.connections / 8);
        const AppServerWorker::Caps caps{limits_.connections, limits_.connections + eighth, most() - eighth};
        for (int i = 0; i < workerCount_ && !g_cancellable_is_cancelled(stopping_.get()); ++i)
            workers_.push_back(
                std::make_unique<AppServerWorker>(folder_, limits_.idle, limits_.stall, caps, workerCount_, open_));
        acceptConnections();
    });
    return R::success({});
}

// Taken on past the limit while the workers make room, so that the backlog empties at once and a
// fresh client is not queued behind those that hold connections (the kernel would drop it, and it
// would try again a second later): past the hard cap the workers close the newest that have not
// asked, so this is reached only when all have, or when they fall far behind. The last eighth of
// the limit before it is for newcomers that get short answers only, when none of the others may go
// (AppServerWorker).
int AppServer::most() const
{
    return limits_.connections + std::max(1, limits_.connections / 2);
}

void AppServer::acceptConnections()
{
    std::size_t next = 0;
    bool reported = false;
    while (!g_cancellable_is_cancelled(stopping_.get())) {
        if (open_.load(std::memory_order_relaxed) >= most()) {
            // None could go: new ones wait in the backlog until some close (AppServerWorker).
            g_usleep(10 * 1000);
            continue;
        }
        GError* error = nullptr;
        auto client = GObjectRef<GSocket>::adopt(g_socket_accept(listener_.get(), stopping_.get(), &error));
        if (!client) {
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) && !reported) {
                // Out of file descriptors, most likely: the connections wait in the backlog.
                RKLog(std::string("App Server cannot accept a connection: ") + error->message, RKLogKind::appServerFailure);
                reported = true;
            }
            g_error_free(error);
            g_usleep(10 * 1000);
            continue;
        }
        reported = false;
        g_socket_set_option(client.get(), IPPROTO_TCP, TCP_NODELAY, TRUE, nullptr);
        g_socket_set_option(client.get(), SOL_SOCKET, SO_SNDBUF, sendBufferSize, nullptr);
        workers_[next++ % workers_.size()]->adopt(std::move(client));
    }
}

} // namespace kx
