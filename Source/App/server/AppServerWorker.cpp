#include "App/server/AppServerWorker.h"

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <string>
#include <utility>

#include <libsoup/soup.h>

#include "App/server/AppServerRequest.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/AlternateSignalStack.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

namespace {

struct Adoption {
    AppServerWorker* worker;
    GObjectRef<GSocket> socket;
};

constexpr std::chrono::milliseconds sweepPeriod(250);
// Retired servers kept at once: past it, the oldest one's connections are ended, busy or not.
constexpr std::size_t retiredAtMost = 2;

gint64 microseconds(std::chrono::microseconds duration)
{
    return duration.count();
}

// Whether the client has closed its side (or reset the connection): nothing more can come.
bool peerEnded(GSocket* socket)
{
    char next;
    ssize_t count = ::recv(g_socket_get_fd(socket), &next, 1, MSG_PEEK | MSG_DONTWAIT);
    return count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

GObjectRef<GSocket> socketFor(int fd)
{
    auto socket = GObjectRef<GSocket>::adopt(g_socket_new_from_fd(fd, nullptr));
    if (!socket)
        ::close(fd);
    return socket;
}

} // namespace

AppServerWorker::AppServerWorker(std::filesystem::path folder, std::chrono::seconds idle, std::chrono::seconds stall,
                                 int limit, std::atomic<int>& open)
    : folder_(std::move(folder))
    , idle_(idle)
    , stall_(stall)
    , limit_(limit)
    , open_(open)
    , context_(g_main_context_new())
    , loop_(g_main_loop_new(context_, FALSE))
{
    std::promise<void> ready;
    auto started = ready.get_future();
    thread_ = startThread([this, ready = std::move(ready)]() mutable {
        g_main_context_push_thread_default(context_);
        server_ = makeServer();
        ready.set_value();
        run();
    });
    started.wait();
}

AppServerWorker::~AppServerWorker()
{
    // Quit from inside the worker's loop: a quit that came before the loop began to run would
    // be forgotten by it, and the join would wait for ever.
    g_main_context_invoke_full(
        context_, G_PRIORITY_HIGH,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop_, nullptr);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void AppServerWorker::run()
{
    g_main_loop_run(loop_);
    sweep_.remove();
    forget_.remove();
    retired_.clear();
    server_.reset();
    // Let closed connections and finished messages (and their open files) go.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    connections_.clear();
    g_main_context_pop_thread_default(context_);
}

// One SoupServer of the worker's, with what it holds. libsoup 3.2 keeps what it has for a
// connection that ends between two requests until the server goes (the sweep closes the
// connection itself), so a server that has let go of `abandonedPerServer` of them retires: it
// takes no new connection, and goes with its last one.
struct AppServerWorker::Server {
    static constexpr int abandonedPerServer = 256; // some 2 KiB each

    GObjectRef<SoupServer> soup;
    GObjectRef<GSocket> unreachable[2];
    std::vector<SignalConnection> requests;
    int abandoned = 0;

    ~Server()
    {
        requests.clear();
        soup_server_disconnect(soup.get());
    }
};

std::unique_ptr<AppServerWorker::Server> AppServerWorker::makeServer()
{
    auto server = std::make_unique<Server>();
    // Made on the worker's thread: libsoup attaches its sources to the thread's default context.
    server->soup = GObjectRef<SoupServer>::adopt(soup_server_new("server-header", "KorvelX", nullptr));
    soup_server_add_handler(
        server->soup.get(), nullptr,
        [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
            AppServerRequest::respond(static_cast<AppServerWorker*>(data)->folder_, message, path);
        },
        this, nullptr);
    // No request needs a body: one sent anyway is read past, not kept in memory.
    soup_server_add_early_handler(
        server->soup.get(), nullptr,
        [](SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer) {
            soup_message_body_set_accumulate(soup_server_message_get_request_body(message), FALSE);
        },
        nullptr, nullptr);

    // libsoup keeps a connection open for the next request only on a server that listens. Ours
    // come from the acceptor, not from libsoup's listener, which gives up listening for good
    // when one accept fails (a connection another worker took first, no descriptor left), so
    // the server listens on one end of a socket pair: nobody else can reach it, and it never
    // has a connection to give. Without it, each connection is closed after one answer.
    int ends[2];
    GError* error = nullptr;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
        server->unreachable[0] = socketFor(ends[0]);
        server->unreachable[1] = socketFor(ends[1]);
        if (server->unreachable[0] && server->unreachable[1] &&
            !soup_server_listen_socket(server->soup.get(), server->unreachable[0].get(), SoupServerListenOptions(0),
                                       &error)) {
            RKLog(std::string("App Server closes each connection after one answer: ") + error->message,
                  RKLogKind::appServerFailure);
            g_error_free(error);
        }
    }

    using Handler = void(SoupServer*, SoupServerMessage*);
    server->requests.push_back(SignalConnection::connect<Handler>(
        server->soup.get(), "request-read", [this](SoupServer*, SoupServerMessage* message) { requestRead(message); }));
    for (const char* ended : {"request-finished", "request-aborted"})
        server->requests.push_back(SignalConnection::connect<Handler>(
            server->soup.get(), ended, [this](SoupServer*, SoupServerMessage* message) { requestEnded(message); }));
    return server;
}

void AppServerWorker::adopt(GObjectRef<GSocket> socket)
{
    open_.fetch_add(1, std::memory_order_relaxed);
    g_main_context_invoke_full(
        context_, G_PRIORITY_HIGH,
        [](gpointer data) -> gboolean {
            auto* adoption = static_cast<Adoption*>(data);
            adoption->worker->serve(adoption->socket.get());
            return G_SOURCE_REMOVE;
        },
        new Adoption{this, std::move(socket)}, [](gpointer data) { delete static_cast<Adoption*>(data); });
}

void AppServerWorker::serve(GSocket* socket)
{
    auto local = GObjectRef<GSocketAddress>::adopt(g_socket_get_local_address(socket, nullptr));
    auto remote = GObjectRef<GSocketAddress>::adopt(g_socket_get_remote_address(socket, nullptr));
    if (!server_ || !local || !remote) {
        // The client went away before it was served.
        g_socket_close(socket, nullptr);
        open_.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    // Known before libsoup starts on it: a request already sent is answered within the call.
    const gint64 now = g_get_monotonic_time();
    connections_.emplace(remote.get(), Connection{GObjectRef<GSocket>::retain(socket), remote, server_.get(), now, now});
    if (open_.load(std::memory_order_relaxed) > limit_)
        makeRoom(remote.get());
    // A response its client stops taking fails after this long, and ends the connection.
    g_socket_set_timeout(socket, static_cast<guint>(stall_.count()));
    auto connection = GObjectRef<GSocketConnection>::adopt(g_socket_connection_factory_create_connection(socket));
    soup_server_accept_iostream(server_->soup.get(), G_IO_STREAM(connection.get()), local.get(), remote.get(), nullptr);

    if (!sweep_.isActive()) {
        GSource* source = g_timeout_source_new(static_cast<guint>(sweepPeriod.count()));
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                return static_cast<AppServerWorker*>(data)->closeIdleConnections() ? G_SOURCE_CONTINUE
                                                                                    : G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(source, context_);
        sweep_ = SourceHandle::adopt(source);
    }
}

void AppServerWorker::requestRead(SoupServerMessage* message)
{
    auto found = connections_.find(soup_server_message_get_remote_address(message));
    if (found != connections_.end()) {
        found->second.waitingSince = 0;
        found->second.answeringSince = g_get_monotonic_time();
    }
}

void AppServerWorker::requestEnded(SoupServerMessage* message)
{
    auto found = connections_.find(soup_server_message_get_remote_address(message));
    if (found == connections_.end())
        return;
    found->second.waitingSince = g_get_monotonic_time();
    // libsoup closes the connection right after this, unless it keeps it for the next request:
    // a closed one's place is free on the next turn of the loop, not at the next sweep.
    ended_.push_back(found->second.remote);
    if (!forget_.isActive()) {
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_HIGH);
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<AppServerWorker*>(data);
                for (const auto& remote : std::exchange(self->ended_, {})) {
                    auto found = self->connections_.find(remote.get());
                    if (found != self->connections_.end() && g_socket_is_closed(found->second.socket.get()))
                        self->forget(found);
                }
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(source, context_);
        forget_ = SourceHandle::adopt(source);
    }
}

void AppServerWorker::forget(Connections::iterator connection)
{
    connections_.erase(connection);
    open_.fetch_sub(1, std::memory_order_relaxed);
}

// Closes the connection (other than `besides`) that does least for its client: one whose client
// has gone between two requests (the sweep would close it next), else the one waiting longest
// for its next request, else the one answering longest, else one just opened that has not asked
// yet, a while at least for the second and third. None when all are answering briefly: then the
// server is merely busy, and the acceptor holds back until a sweep finds one.
bool AppServerWorker::makeRoom(GSocketAddress* besides)
{
    const gint64 now = g_get_monotonic_time();
    const gint64 awhile = microseconds(answeringBeforeRoom);
    auto victim = connections_.end();
    int victimRank = 4;
    gint64 victimAge = 0;
    for (auto entry = connections_.begin(); entry != connections_.end() && victimRank > 0; ++entry) {
        const auto& connection = entry->second;
        if (entry->first == besides)
            continue;
        GSocket* socket = connection.socket.get();
        const bool waits = connection.waitingSince != 0;
        const gint64 age = now - (waits ? connection.waitingSince : connection.answeringSince);
        // Not a sweep's wait as there (for a request read ahead to be answered): libsoup starts on
        // such a request in the same turn of the loop as it ends the one before.
        const bool gone = connection.ended || g_socket_is_closed(socket) || (waits && peerEnded(socket));
        const int rank = gone ? 0 : age >= awhile ? (waits ? 1 : 2) : (waits ? 3 : 4);
        if (rank < victimRank || (rank == victimRank && rank < 4 && age > victimAge)) {
            victim = entry;
            victimRank = rank;
            victimAge = age;
        }
    }
    if (victim == connections_.end())
        return false;
    GSocket* socket = victim->second.socket.get();
    if (!g_socket_is_closed(socket)) {
        // libsoup's watch of it fails on the closed socket and lets its request go.
        g_socket_shutdown(socket, TRUE, TRUE, nullptr);
        g_socket_close(socket, nullptr);
        ++victim->second.server->abandoned;
    }
    forget(victim);
    return true;
}

// Every `sweepPeriod` while there are connections: forgets the closed ones and ends the idle
// ones, and those whose client has ended its side between two requests.
bool AppServerWorker::closeIdleConnections()
{
    const gint64 now = g_get_monotonic_time();
    for (auto entry = connections_.begin(); entry != connections_.end();) {
        auto& connection = entry->second;
        GSocket* socket = connection.socket.get();
        // libsoup stops watching a connection that ends between two requests but never closes
        // it: once it has seen the end, a sweep ago, closing it is ours to do.
        if (connection.ended && !g_socket_is_closed(socket)) {
            g_socket_close(socket, nullptr);
            ++connection.server->abandoned;
        }
        if (g_socket_is_closed(socket)) {
            forget(entry++);
            continue;
        }
        const gint64 waited = connection.waitingSince ? now - connection.waitingSince : 0;
        // Waiting since a sweep ago at least: libsoup answers a request it has read ahead at once.
        // A retired server's connection ends at its first pause, so that the server can go;
        // those of the oldest retired one past `retiredAtMost` end whatever they do.
        const bool retired = connection.server != server_.get();
        const bool pastRetired = retired_.size() > retiredAtMost && connection.server == retired_.front().get();
        if (waited >= microseconds(idle_) || pastRetired ||
            (waited >= microseconds(sweepPeriod) && (retired || peerEnded(socket)))) {
            g_socket_shutdown(socket, TRUE, TRUE, nullptr);
            connection.ended = true;
        }
        ++entry;
    }
    // Still over the limit: connections answering briefly at the last new one's coming may be
    // answering for a while now.
    while (open_.load(std::memory_order_relaxed) > limit_ && makeRoom(nullptr)) {
    }
    if (server_->abandoned >= Server::abandonedPerServer) {
        retired_.push_back(std::move(server_));
        server_ = makeServer();
    }
    const auto letGo = std::erase_if(retired_, [this](const std::unique_ptr<Server>& server) {
        return std::none_of(connections_.begin(), connections_.end(),
                            [&](const auto& entry) { return entry.second.server == server.get(); });
    });
    // What the servers let go of lies scattered in the heap: give back the free pages.
    if (letGo)
        ::malloc_trim(0);
    return !connections_.empty();
}

} // namespace kx
