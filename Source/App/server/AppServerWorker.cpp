#include "App/server/AppServerWorker.h"

// The kernel's own tcp_info, which tells the bytes a client has acknowledged; glibc's stops short
// of it. (This file is compiled on its own: the two headers clash.)
#include <linux/tcp.h>
#include <malloc.h>
#include <netinet/in.h>
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
// How long a refused connection is kept for its client to read why before it is closed (closed
// with the client's request unread, it would be reset, the answer lost with it).
constexpr std::chrono::seconds refusalReading(2);
// What a client is told when the server has no place for it, and when it asks for what the
// server does not do; each ends the connection.
constexpr std::string_view busyResponse = "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\nConnection: close\r\n"
                                          "Content-Length: 0\r\n\r\n";
constexpr std::string_view methodResponse = "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nConnection: close\r\n"
                                            "Content-Length: 0\r\n\r\n";
constexpr std::string_view bodyResponse = "HTTP/1.1 413 Content Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
// What a connection taken past the most the server serves is answered with at most: about what
// its send buffer (AppServer's 128 KiB, doubled by the kernel) takes at once, so that it holds its
// file no longer than a few writes, and its place no longer than its client takes to read it. Most
// of the editor's files are that short; a longer one is asked for again.
constexpr std::uint64_t shortAnswer = 192 * 1024;
// Connections let go of before the heap is trimmed, once no new one has come for a sweep.
constexpr int trimAfter = 256;

gint64 microseconds(std::chrono::microseconds duration)
{
    return duration.count();
}

AppServerRoom::Time monotonicNow()
{
    return AppServerRoom::Time(g_get_monotonic_time());
}

// What the client has done on its side that the server has not seen yet, and what it has taken.
AppServerRoom::Seen seenOf(GSocket* socket)
{
    const int fd = g_socket_get_fd(socket);
    char next;
    const ssize_t count = ::recv(fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    tcp_info info{};
    socklen_t size = sizeof info;
    if ((count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
        ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return {.gone = true};
    return {.ended = count == 0,
            .sent = count > 0,
            .untaken = info.tcpi_unacked > 0 || info.tcpi_notsent_bytes > 0,
            .taken = info.tcpi_bytes_acked};
}

// libsoup reads it at the answer's end, whether or not the head has gone already.
void endAfterAnswer(SoupServerMessage* message)
{
    if (message)
        soup_message_headers_replace(soup_server_message_get_response_headers(message), "Connection", "close");
}

// `source` on the worker's loop, calling `callback` with the worker, held until it is done.
SourceHandle attach(GSource* source, AppServerWorker* worker, GMainContext* context, GSourceFunc callback,
                    int priority = G_PRIORITY_DEFAULT)
{
    g_source_set_priority(source, priority);
    g_source_set_callback(source, callback, worker, nullptr);
    g_source_attach(source, context);
    return SourceHandle::adopt(source);
}

GObjectRef<GSocket> socketFor(int fd)
{
    auto socket = GObjectRef<GSocket>::adopt(g_socket_new_from_fd(fd, nullptr));
    if (!socket)
        ::close(fd);
    return socket;
}

std::size_t shareOf(int total, int workers)
{
    return std::size_t((total + std::max(1, workers) - 1) / std::max(1, workers));
}

} // namespace

AppServerWorker::AppServerWorker(std::filesystem::path folder, std::chrono::seconds idle, std::chrono::seconds stall,
                                 Caps caps, int workers, std::atomic<int>& open)
    : folder_(std::move(folder))
    , idle_(idle)
    , stall_(stall)
    , caps_(caps)
    , limitShare_(shareOf(caps.limit, workers))
    , hardCapShare_(shareOf(caps.hardCap, workers))
    , servedShare_(shareOf(caps.served, workers))
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
    closer_.remove();
    closeLeaving(true);
    for (auto& [key, connection] : connections_)
        connection.disconnection.disconnect();
    retired_.clear();
    server_.reset();
    // Let closed connections and finished messages (and their open files) go.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    connections_.clear();
    g_main_context_pop_thread_default(context_);
}

// One SoupServer of the worker's, with what it holds. libsoup 3.2 lets go of what it has for a
// connection when the message of its request ends, but for one that ends between two requests
// only when the server goes (and never closes it: that is ours to do), so a server that has let
// go of `abandonedPerServer` of them retires: it takes no new connection, and goes with its last
// one.
struct AppServerWorker::Server {
    static constexpr int abandonedPerServer = 256; // some 2.3 KiB each

    GObjectRef<SoupServer> soup;
    GObjectRef<GSocket> unreachable[2];
    std::vector<SignalConnection> requests;
    int abandoned = 0;

    // Its connections keep none of their own after their answers (see requestRead), so its
    // listener has done its part: its descriptors go at once.
    void retire()
    {
        for (auto& end : unreachable)
            if (end)
                g_socket_close(end.get(), nullptr);
    }

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
            auto* worker = static_cast<AppServerWorker*>(data);
            AppServerRequest::respond(worker->folder_, message, path, worker->longestAnswer(message));
        },
        this, nullptr);
    // No request has a body, nor another method: one that comes with either is answered at its
    // head, never read on (a body sent without end would keep the worker reading it).
    soup_server_add_early_handler(
        server->soup.get(), nullptr,
        [](SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer data) {
            static_cast<AppServerWorker*>(data)->rejectEarly(message);
        },
        this, nullptr);

    // libsoup keeps a connection open for the next request only on a server that listens. Ours
    // come from the acceptor, not from libsoup's listener, which gives up listening for good
    // when one accept fails (a connection another worker took first, no descriptor left), so
    // the server listens on one end of a socket pair: nobody else can reach it, and it never
    // has a connection to give. Without it, each connection is closed after one answer.
    // Without it (no descriptor left for the pair) there is no server yet: one is made again
    // for the next connection.
    int ends[2];
    GError* error = nullptr;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        if (!std::exchange(cannotMakeServer_, true))
            RKLog(std::string("App Server cannot make a server now: ") + g_strerror(errno), RKLogKind::appServerFailure);
        return nullptr;
    }
    server->unreachable[0] = socketFor(ends[0]);
    server->unreachable[1] = socketFor(ends[1]);
    if (!server->unreachable[0] || !server->unreachable[1]
        || !soup_server_listen_socket(server->soup.get(), server->unreachable[0].get(), SoupServerListenOptions(0), &error)) {
        if (!std::exchange(cannotMakeServer_, true))
            RKLog(std::string("App Server cannot make a server now: ") + (error ? error->message : "no socket"),
                  RKLogKind::appServerFailure);
        if (error)
            g_error_free(error);
        return nullptr;
    }
    cannotMakeServer_ = false;

    using Handler = void(SoupServer*, SoupServerMessage*);
    server->requests.push_back(SignalConnection::connect<Handler>(
        server->soup.get(), "request-started",
        [this](SoupServer*, SoupServerMessage* message) { requestStarted(message); }));
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
    // At the transfers' priority, not ahead of them: clients that connect again and again must
    // not starve the answers under way.
    g_main_context_invoke_full(
        context_, G_PRIORITY_DEFAULT,
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
    if (!local || !remote) {
        // The client went away before it was served.
        g_socket_close(socket, nullptr);
        open_.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    if (!server_)
        server_ = makeServer();
    if (!server_) {
        refuse(GObjectRef<GSocket>::retain(socket), busyResponse);
        return;
    }
    // At the most it serves, one goes for the newcomer if one may (one that has gone, one held but
    // unused, an answer taken far too slowly); if none may, the newcomer gets a short answer only:
    // left to wait, it would wait behind answers that may go on for minutes.
    if (isPast(caps_.served, servedShare_ - 1))
        makeRoom(nullptr);
    const bool shortOnly = isPast(caps_.served, servedShare_ - 1);
    // Known before libsoup starts on it: a request already sent is read (and maybe answered)
    // within the call, and so the room made for it is made by what it has done.
    connections_.emplace(remote.get(),
                         Connection{GObjectRef<GSocket>::retain(socket), remote, server_.get(), {}, {}, shortOnly});
    room_.opened(remote.get(), monotonicNow());
    ++accepted_;
    // A response its client stops taking fails after this long, and ends the connection.
    g_socket_set_timeout(socket, static_cast<guint>(stall_.count()));
    auto connection = GObjectRef<GSocketConnection>::adopt(g_socket_connection_factory_create_connection(socket));
    soup_server_accept_iostream(server_->soup.get(), G_IO_STREAM(connection.get()), local.get(), remote.get(), nullptr);
    if (isPast(caps_.limit, limitShare_) && !g_socket_is_closed(socket))
        makeRoom(remote.get());
    sweepSoon();
}

// Every `sweepPeriod` while there are connections, or ones on their way out.
void AppServerWorker::sweepSoon()
{
    if (!sweep_.isActive())
        sweep_ = attach(g_timeout_source_new(static_cast<guint>(sweepPeriod.count())), this, context_,
                        [](gpointer data) -> gboolean {
                            return static_cast<AppServerWorker*>(data)->closeIdleConnections() ? G_SOURCE_CONTINUE
                                                                                                : G_SOURCE_REMOVE;
                        });
}

void AppServerWorker::requestStarted(SoupServerMessage* message)
{
    GSocketAddress* key = soup_server_message_get_remote_address(message);
    auto found = connections_.find(key);
    if (found == connections_.end())
        return;
    room_.requestStarted(key);
    found->second.message = GObjectRef<SoupServerMessage>::retain(message);
    // libsoup closes a connection whose request goes wrong (its client gone, say) with no other
    // word: its place is free on the next turn of the loop, not at the next sweep.
    found->second.disconnection = SignalConnection::connect<void(SoupServerMessage*)>(
        message, "disconnected", [this, remote = found->second.remote](SoupServerMessage*) { forgetOnceClosed(remote); });
}

void AppServerWorker::requestRead(SoupServerMessage* message)
{
    GSocketAddress* key = soup_server_message_get_remote_address(message);
    auto found = connections_.find(key);
    if (found == connections_.end())
        return;
    room_.requestRead(key, monotonicNow(), seenOf(found->second.socket.get()).taken);
    // Past the limit a client that keeps asking gives its place up after each answer, to ask
    // again behind the others; a retired server keeps no connection for another request.
    if (found->second.server != server_.get() || found->second.shortOnly || isPast(caps_.limit, limitShare_))
        endAfterAnswer(message);
}

void AppServerWorker::requestEnded(SoupServerMessage* message)
{
    GSocketAddress* key = soup_server_message_get_remote_address(message);
    auto found = connections_.find(key);
    if (found == connections_.end())
        return;
    room_.requestEnded(key, monotonicNow());
    found->second.disconnection.disconnect();
    found->second.message = nullptr;
    // libsoup closes the connection right after this, unless it keeps it for the next request.
    forgetOnceClosed(found->second.remote);
}

void AppServerWorker::forgetOnceClosed(const GObjectRef<GSocketAddress>& remote)
{
    mayBeClosed_.push_back(remote);
    if (!forget_.isActive())
        forget_ = attach(
            g_idle_source_new(), this, context_,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<AppServerWorker*>(data);
                for (const auto& remote : std::exchange(self->mayBeClosed_, {})) {
                    auto found = self->connections_.find(remote.get());
                    if (found != self->connections_.end() && g_socket_is_closed(found->second.socket.get()))
                        self->forget(found);
                }
                return G_SOURCE_REMOVE;
            },
            G_PRIORITY_HIGH);
}

// Its place is given back once its socket is closed: one still open is on its way out (closing_).
void AppServerWorker::forget(Connections::iterator connection)
{
    if (g_socket_is_closed(connection->second.socket.get()))
        open_.fetch_sub(1, std::memory_order_relaxed);
    room_.forget(connection->first);
    connections_.erase(connection);
    ++letGo_;
}

AppServerRoom::Seen AppServerWorker::look(AppServerRoom::Key key)
{
    auto found = connections_.find(static_cast<GSocketAddress*>(const_cast<void*>(key)));
    if (found == connections_.end() || g_socket_is_closed(found->second.socket.get()))
        return {.gone = true};
    return seenOf(found->second.socket.get());
}

// Over the limit: closes what AppServerRoom gives up, until the server is within it; past the
// hard cap, what cannot wait. `newcomer` is none for the sweep.
void AppServerWorker::makeRoom(GSocketAddress* newcomer)
{
    const auto lookAt = [this](AppServerRoom::Key key) { return look(key); };
    const auto connection = [this](AppServerRoom::Key key) {
        return connections_.find(static_cast<GSocketAddress*>(const_cast<void*>(key)));
    };
    const auto now = monotonicNow();
    while (isPast(caps_.limit, limitShare_)) {
        auto chosen = room_.choose(newcomer, now, lookAt);
        if (!chosen)
            break;
        close(connection(*chosen));
    }
    // Nothing that may go left, the connections stay past the hard cap (the newcomer among them,
    // its answer never cut for its own place) until some can; past the most the server serves,
    // newcomers get short answers only (see serve), and past the most the acceptor takes, the next
    // ones wait in the backlog.
    while (isPast(caps_.hardCap, hardCapShare_)) {
        auto chosen = room_.chooseBeyondCap(newcomer, now, lookAt);
        if (!chosen)
            break;
        close(connection(*chosen));
    }
    // One that has not asked may have just had no moment to yet: look again once it has.
    const auto recheck = room_.recheckAfter(now);
    if (isPast(caps_.limit, limitShare_) && recheck && !recheck_.isActive())
        recheck_ = attach(g_timeout_source_new(static_cast<guint>(recheck->count())), this, context_,
                          [](gpointer data) -> gboolean {
                              auto* self = static_cast<AppServerWorker*>(data);
                              self->recheck_ = {};
                              self->makeRoom(nullptr);
                              return G_SOURCE_REMOVE;
                          });
}

bool AppServerWorker::isPast(int total, std::size_t share) const
{
    return open_.load(std::memory_order_relaxed) > total && connections_.size() > share;
}

// Through its request's message where it has one, so that libsoup lets go of all it has for it;
// one kept between two requests is shut down for libsoup to see, and counts towards its server's
// retirement (see Server). An answer cut while its client has not taken all that was written of it
// is reset: closed, the connection would wait in the kernel behind what its client does not take,
// and the client would not know. (An answer written whole goes on to its client before the end.)
void AppServerWorker::close(Connections::iterator entry)
{
    Connection& connection = entry->second;
    GSocket* socket = connection.socket.get();
    if (!g_socket_is_closed(socket) && !room_.waitingSince(entry->first) && seenOf(socket).untaken) {
        const linger reset{1, 0};
        ::setsockopt(g_socket_get_fd(socket), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    if (!g_socket_is_closed(socket) && connection.message) {
        connection.disconnection.disconnect();
        auto stream = GObjectRef<GIOStream>::adopt(soup_server_message_steal_connection(connection.message.get()));
        if (stream)
            g_io_stream_close(stream.get(), nullptr, nullptr);
    }
    if (!g_socket_is_closed(socket)) {
        g_socket_shutdown(socket, TRUE, TRUE, nullptr);
        ++connection.server->abandoned;
        closeSoon(connection.socket);
    }
    forget(entry);
}

// Closed once libsoup has seen the end: its watch of the socket comes before this idle, and
// would otherwise wait on whatever the descriptor's number is given to next. The idle waits while
// transfers keep the loop busy; the next sweep closes what it has not (libsoup's watch, at the
// sweep's priority, has run since).
void AppServerWorker::closeSoon(GObjectRef<GSocket> socket)
{
    closing_.push_back({std::move(socket), {}, monotonicNow()});
    if (!closer_.isActive())
        closer_ = attach(
            g_idle_source_new(), this, context_,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<AppServerWorker*>(data);
                self->closer_ = {};
                self->closeLeaving(false);
                return G_SOURCE_REMOVE;
            },
            G_PRIORITY_DEFAULT_IDLE);
}

void AppServerWorker::refuse(GObjectRef<GSocket> socket, std::string_view response, GObjectRef<GIOStream> stream)
{
    const int fd = g_socket_get_fd(socket.get());
    // Small enough for any send buffer; a client that cannot take even that gets nothing.
    [[maybe_unused]] const auto sent = ::send(fd, response.data(), response.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    refused_.push_back({std::move(socket), std::move(stream), monotonicNow()});
    sweepSoon();
}

void AppServerWorker::rejectEarly(SoupServerMessage* message)
{
    soup_message_body_set_accumulate(soup_server_message_get_request_body(message), FALSE);
    auto* headers = soup_server_message_get_request_headers(message);
    const char* method = soup_server_message_get_method(message);
    const bool otherMethod = method != SOUP_METHOD_GET && method != SOUP_METHOD_HEAD;
    const auto encoding = soup_message_headers_get_encoding(headers);
    const bool body = encoding == SOUP_ENCODING_CHUNKED || encoding == SOUP_ENCODING_EOF
        || (encoding == SOUP_ENCODING_CONTENT_LENGTH && soup_message_headers_get_content_length(headers) > 0);
    if (!otherMethod && !body)
        return;
    auto found = connections_.find(soup_server_message_get_remote_address(message));
    if (found == connections_.end())
        return;
    // libsoup would read the body before any answer: the connection is taken from it, told why,
    // and its place given back once its client had a moment to read that.
    found->second.disconnection.disconnect();
    auto stream = GObjectRef<GIOStream>::adopt(soup_server_message_steal_connection(message));
    auto socket = found->second.socket;
    room_.forget(found->first);
    connections_.erase(found);
    ++letGo_;
    refuse(std::move(socket), otherMethod ? methodResponse : bodyResponse, std::move(stream));
}

std::uint64_t AppServerWorker::longestAnswer(SoupServerMessage* message) const
{
    auto found = connections_.find(soup_server_message_get_remote_address(message));
    return found != connections_.end() && found->second.shortOnly ? shortAnswer : UINT64_MAX;
}

void AppServerWorker::closeLeaving(bool all)
{
    const auto now = monotonicNow();
    const auto closeOne = [this](Leaving& leaving) {
        if (leaving.stream)
            g_io_stream_close(leaving.stream.get(), nullptr, nullptr);
        g_socket_close(leaving.socket.get(), nullptr);
        open_.fetch_sub(1, std::memory_order_relaxed);
    };
    for (auto& leaving : std::exchange(closing_, {}))
        closeOne(leaving);
    // A refused client's request is read past (a little at a time: it may send without end) until
    // it has ended its side or had its time, so that the close resets nothing it has yet to read.
    std::erase_if(refused_, [&](Leaving& leaving) {
        bool ended = all || now - leaving.since >= refusalReading;
        char buffer[16 * 1024];
        for (int read = 0; !ended && read < 4; ++read) {
            const ssize_t count = ::recv(g_socket_get_fd(leaving.socket.get()), buffer, sizeof buffer, MSG_DONTWAIT);
            ended = count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            if (count < ssize_t(sizeof buffer))
                break;
        }
        if (ended)
            closeOne(leaving);
        return ended;
    });
}

// Takes no new connection on the current server: its answers end their connections, never cut,
// and it goes with its last one.
void AppServerWorker::retire()
{
    // Without a server to take its place (no descriptor left for it) it goes on for now.
    auto next = makeServer();
    if (!next)
        return;
    server_->retire();
    for (auto& [key, connection] : connections_)
        if (connection.server == server_.get() && connection.message && !room_.waitingSince(key))
            endAfterAnswer(connection.message.get());
    retired_.push_back(std::move(server_));
    server_ = std::move(next);
}

// Every `sweepPeriod` while there are connections: forgets the closed ones and closes the idle
// ones, and those whose client has ended its side between two requests.
bool AppServerWorker::closeIdleConnections()
{
    // What waits to be closed since the last turns goes now, also under a flood of transfers.
    closeLeaving(false);
    const gint64 now = g_get_monotonic_time();
    for (auto entry = connections_.begin(); entry != connections_.end();) {
        auto current = entry++;
        GSocket* socket = current->second.socket.get();
        if (g_socket_is_closed(socket)) {
            forget(current);
            continue;
        }
        const auto since = room_.waitingSince(current->first);
        const gint64 waited = since ? now - since->count() : 0;
        // Waiting since a sweep ago at least: libsoup answers a request it has read ahead at once.
        // A retired server's connection ends at its first pause between two requests, so that the
        // server can go; one that has not asked yet has its whole time to.
        bool closing = waited >= microseconds(idle_);
        if (!closing && waited >= microseconds(sweepPeriod)) {
            const auto seen = seenOf(socket);
            const bool retiredBetweenRequests = current->second.server != server_.get() && room_.hasAsked(current->first);
            closing = seen.gone || (!seen.sent && (seen.ended || retiredBetweenRequests));
        }
        if (closing)
            close(current);
    }
    // Still over the limit: an answer whose client took nothing at the last new one's coming
    // may have stalled since.
    if (isPast(caps_.limit, limitShare_))
        makeRoom(nullptr);
    if (!server_)
        server_ = makeServer();
    else if (server_->abandoned >= Server::abandonedPerServer)
        retire();
    const auto done = std::erase_if(retired_, [this](const std::unique_ptr<Server>& server) {
        return std::none_of(connections_.begin(), connections_.end(),
                            [&](const auto& entry) { return entry.second.server == server.get(); });
    });
    // What the servers and connections let go of lies scattered in the heap: give back the free
    // pages, once the churn has calmed.
    if (done || (letGo_ >= trimAfter && accepted_ == 0)) {
        ::malloc_trim(0);
        letGo_ = 0;
    }
    accepted_ = 0;
    return !connections_.empty() || !closing_.empty() || !refused_.empty();
}

} // namespace kx
