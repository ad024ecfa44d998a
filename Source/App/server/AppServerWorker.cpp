#include "App/server/AppServerWorker.h"

#include <linux/sockios.h>
#include <malloc.h>
#include <sys/ioctl.h>
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

AppServerRoom::Time monotonicNow()
{
    return AppServerRoom::Time(g_get_monotonic_time());
}

// What the client has done on its side that the server has not seen yet.
AppServerRoom::Seen seenOf(GSocket* socket)
{
    const int fd = g_socket_get_fd(socket);
    char next;
    ssize_t count = ::recv(fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        return {.gone = true};
    int unsent = 0;
    return {.sent = count > 0, .untaken = ::ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0};
}

// libsoup reads it at the answer's end, whether or not the head has gone already.
void endAfterAnswer(SoupServerMessage* message)
{
    if (message)
        soup_message_headers_replace(soup_server_message_get_response_headers(message), "Connection", "close");
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
                                 int limit, int hardCap, int workers, std::atomic<int>& open)
    : folder_(std::move(folder))
    , idle_(idle)
    , stall_(stall)
    , limit_(limit)
    , hardCap_(hardCap)
    , limitShare_(std::size_t((limit + std::max(1, workers) - 1) / std::max(1, workers)))
    , hardCapShare_(std::size_t((hardCap + std::max(1, workers) - 1) / std::max(1, workers)))
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
    recheck_.remove();
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
        server->soup.get(), "request-started", [this](SoupServer*, SoupServerMessage* message) {
            room_.requestStarted(soup_server_message_get_remote_address(message));
        }));
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
    // Known before libsoup starts on it: a request already sent is read (and maybe answered)
    // within the call, and so the room made for it is made by what it has done.
    connections_.emplace(remote.get(), Connection{GObjectRef<GSocket>::retain(socket), remote, server_.get(), {}, {}});
    room_.opened(remote.get(), monotonicNow());
    // A response its client stops taking fails after this long, and ends the connection.
    g_socket_set_timeout(socket, static_cast<guint>(stall_.count()));
    auto connection = GObjectRef<GSocketConnection>::adopt(g_socket_connection_factory_create_connection(socket));
    soup_server_accept_iostream(server_->soup.get(), G_IO_STREAM(connection.get()), local.get(), remote.get(), nullptr);
    if (isPast(limit_, limitShare_) && !g_socket_is_closed(socket))
        makeRoom(remote.get());

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
    GSocketAddress* key = soup_server_message_get_remote_address(message);
    auto found = connections_.find(key);
    if (found == connections_.end())
        return;
    room_.requestRead(key, monotonicNow());
    found->second.message = GObjectRef<SoupServerMessage>::retain(message);
    found->second.progress = SignalConnection::connect<void(SoupServerMessage*, guint)>(
        message, "wrote-body-data",
        [this, key](SoupServerMessage*, guint) { room_.answerProgressed(key, monotonicNow()); });
    if (room_.endsAfterAnswer(key))
        endAfterAnswer(message);
}

void AppServerWorker::requestEnded(SoupServerMessage* message)
{
    GSocketAddress* key = soup_server_message_get_remote_address(message);
    auto found = connections_.find(key);
    if (found == connections_.end())
        return;
    room_.requestEnded(key, monotonicNow());
    found->second.progress.disconnect();
    found->second.message = nullptr;
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
    room_.forget(connection->first);
    connections_.erase(connection);
    open_.fetch_sub(1, std::memory_order_relaxed);
}

AppServerRoom::Seen AppServerWorker::look(AppServerRoom::Key key)
{
    auto found = connections_.find(static_cast<GSocketAddress*>(const_cast<void*>(key)));
    if (found == connections_.end() || found->second.ended || g_socket_is_closed(found->second.socket.get()))
        return {.gone = true};
    return seenOf(found->second.socket.get());
}

// Over the limit: closes what AppServerRoom gives up, until the server is within it. Past the
// hard cap, what cannot wait: the newest connection that has not asked (the newcomer itself once
// it has had a moment to), or else, for a newcomer that has asked, the end of the oldest one's
// answer. `newcomer` is none for the sweep.
void AppServerWorker::makeRoom(GSocketAddress* newcomer)
{
    const auto lookAt = [this](AppServerRoom::Key key) { return look(key); };
    const auto connection = [this](AppServerRoom::Key key) {
        return connections_.find(static_cast<GSocketAddress*>(const_cast<void*>(key)));
    };
    while (isPast(limit_, limitShare_)) {
        auto choice = room_.choose(newcomer, monotonicNow(), lookAt);
        if (!choice)
            break;
        close(connection(choice->key), choice->kept);
    }
    // One that has not asked may have just had no moment to yet: look again once it has.
    const auto graceEnds = room_.graceEnds(monotonicNow());
    if (isPast(limit_, limitShare_) && graceEnds && !recheck_.isActive()) {
        GSource* source = g_timeout_source_new(static_cast<guint>((*graceEnds - monotonicNow()).count() / 1000 + 1));
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<AppServerWorker*>(data);
                self->recheck_ = {};
                self->makeRoom(nullptr);
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(source, context_);
        recheck_ = SourceHandle::adopt(source);
    }
    while (isPast(hardCap_, hardCapShare_)) {
        if (auto newest = room_.newestUnasked(monotonicNow(), lookAt)) {
            close(connection(*newest), false);
            continue;
        }
        // Those still within their grace go once it has passed; only when none is left to go
        // does an answer end.
        if (newcomer && !graceEnds && (room_.hasAsked(newcomer) || look(newcomer).sent)) {
            if (auto ending = room_.endOldestAnswer(newcomer, monotonicNow(), lookAt))
                endAfterAnswer(connection(*ending)->second.message.get());
        }
        break;
    }
}

bool AppServerWorker::isPast(int total, std::size_t share) const
{
    return open_.load(std::memory_order_relaxed) > total && connections_.size() > share;
}

// `kept`: libsoup keeps what it has for the connection (see Server): it counts for the
// server's retirement.
void AppServerWorker::close(Connections::iterator connection, bool kept)
{
    GSocket* socket = connection->second.socket.get();
    if (!g_socket_is_closed(socket)) {
        // libsoup's watch of it fails on the closed socket and lets its request go.
        g_socket_shutdown(socket, TRUE, TRUE, nullptr);
        g_socket_close(socket, nullptr);
        connection->second.server->abandoned += kept;
    }
    forget(connection);
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
        // it: once it has seen the end, a sweep ago, closing it is ours to do. (One that ends
        // elsewhere it closes itself.)
        if (connection.ended && !g_socket_is_closed(socket)) {
            g_socket_close(socket, nullptr);
            connection.server->abandoned += room_.kept(entry->first);
        }
        if (g_socket_is_closed(socket)) {
            forget(entry++);
            continue;
        }
        const auto since = room_.waitingSince(entry->first);
        const gint64 waited = since ? now - since->count() : 0;
        // Waiting since a sweep ago at least: libsoup answers a request it has read ahead at once.
        // A retired server's connection ends at its first pause, so that the server can go;
        // those of the oldest retired one past `retiredAtMost` end whatever they do.
        const bool retired = connection.server != server_.get();
        const bool pastRetired = retired_.size() > retiredAtMost && connection.server == retired_.front().get();
        if (waited >= microseconds(idle_) || pastRetired ||
            (waited >= microseconds(sweepPeriod) && (retired || seenOf(socket).gone))) {
            g_socket_shutdown(socket, TRUE, TRUE, nullptr);
            connection.ended = true;
        }
        ++entry;
    }
    // Still over the limit: an answer whose client took nothing at the last new one's coming
    // may have stalled since.
    if (isPast(limit_, limitShare_))
        makeRoom(nullptr);
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
