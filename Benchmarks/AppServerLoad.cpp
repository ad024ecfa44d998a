// Raw-socket load on a local web server, for appserver-benchmark.sh: another process's idle
// connections, pipelining clients, readers of a large file at a set pace, the hostile clients of
// a program on the same machine (slowloris clients, clients that keep asking, that shut their side
// at once, that ask once and wait), and probes whose answers are timed, also for a while after
// the load. Every client of the load opens its connection again when the server closes it, as a
// browser or a hostile program would. Everything runs on one thread over non-blocking sockets to
// 127.0.0.1 and stops by itself.
// Usage: kx_appserver_load PORT SECONDS [churn=PER_SECOND] [hold=SECONDS] [pipeliners=N]
//   [readers=N] [rate=BYTES_PER_SECOND] [ahead=N] [halfclose=1] [rcvbuf=BYTES] [gaps=MS,MS,...]
//   [fresh=EVERY_MS] [after=SECONDS] [slowloris=N] [drip=MS] [keepers=N] [every=MS]
//   [keepersPerSecond=N] [closers=N] [once=N] [honest=N] [honestRate=BYTES_PER_SECOND]
//   [honestAfter=SECONDS] [fetches=N] [oneshots=PER_SECOND] [halfshots=PER_SECOND] [chunked=N]
//   [fivers=N]
// honest: readers of the large file one after another, from honestAfter on, each at honestRate,
// then `fetches` full-speed fetches of the 1 MiB file one after another; oneshots and halfshots:
// clients that ask once and close, or end their side, once answered; chunked: senders of an
// endless chunked request body; fivers: clients that ask for the large file five times at once,
// end their side and read at full speed.
// Prints one line per kind of client that ran: what it got, in figures.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

enum class Kind { idle, pipeliner, reader, gap, fresh, slowloris, keeper, closer, once, honest, fetch, oneshot, halfshot, chunked, fiver };
constexpr int kinds = int(Kind::fiver) + 1;

struct Client {
    Kind kind;
    int fd = -1;
    Clock::time_point opened;
    Clock::time_point answerStart; // reader: when its current answer was asked for
    std::string received;
    std::size_t answers = 0;     // whole answers read
    std::size_t bodyBytes = 0;   // reader: bytes of its current body so far
    long long expected = -1;     // reader: its current Content-Length
    double budget = 0;           // reader: bytes it may still read now
    int gapMs = 0;               // gap probe: wait before asking
    double nextAt = 0;           // slowloris: its next byte; keeper: its next request (since the start)
    bool asked = false;
    bool waiting = false;        // keeper: its request is not answered yet
    bool afterLoad = false;      // fresh probe: opened once the load had ended
    bool connected = false;
    std::string pending; // sent once connected
};

const std::string smallRequest = "GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const std::string largeRequest = "GET /large.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const std::string mediumRequest = "GET /medium.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const std::string chunkedHead = "GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n";
// The start of a request whose headers never end.
const std::string endlessHead = "GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
constexpr int pipelineDepth = 4;
constexpr double probeTimeout = 10; // seconds: a probe not answered by then counts as unanswered

// Removes the whole answers at the start of `text` (heads with a Content-Length) and counts them.
std::size_t takeAnswers(std::string& text)
{
    std::size_t count = 0;
    for (;;) {
        auto end = text.find("\r\n\r\n");
        if (end == std::string::npos)
            return count;
        auto at = text.find("Content-Length: ");
        std::size_t length =
            at != std::string::npos && at < end ? std::strtoull(text.c_str() + at + 16, nullptr, 10) : 0;
        if (text.size() < end + 4 + length)
            return count;
        text.erase(0, end + 4 + length);
        ++count;
    }
}

// The server's word that it has no place for the client now.
bool isRefusal(std::string_view answer)
{
    return answer.starts_with("HTTP/1.1 503");
}

struct Probes {
    std::vector<double> times; // ms, of those answered
    long failed = 0;
    long refused = 0; // answered 503 at once, not counted among those answered

    void print(const char* what, double every)
    {
        std::sort(times.begin(), times.end());
        const auto over = std::count_if(times.begin(), times.end(), [](double ms) { return ms > 1000; });
        const std::size_t all = times.size() + std::size_t(failed + refused);
        std::printf("%s every %.0f ms: %zu asked, %zu answered, %ld closed unanswered, %.1f %% over 1 s, "
                    "median %.1f ms, max %.1f ms, %ld refused\n",
                    what, every, all, times.size(), failed, all ? 100.0 * double(over) / double(all) : 0.0,
                    times.empty() ? 0.0 : times[times.size() / 2], times.empty() ? 0.0 : times.back(), refused);
    }
};

class Load {
public:
    Load(int port, double seconds)
        : port_(port)
        , seconds_(seconds)
        , epoll_(epoll_create1(EPOLL_CLOEXEC))
    {
    }

    double churn = 0, hold = 1.5, rate = 4e6, freshEvery = 0, after = 0, drip = 900, every = 100, honestRate = 4e6,
           honestAfter = 8, oneshots = 0, halfshots = 0;
    int pipeliners = 0, readers = 0, ahead = 1, slowloris = 0, keepers = 0, keepersPerSecond = 0, closers = 0,
        once = 0, rcvbuf = 0, honest = 0, fetches = 0, chunked = 0, fivers = 0;
    bool halfClose = false;
    std::vector<int> gaps;

    void run()
    {
        start_ = Clock::now();
        for (auto [kind, count] : {std::pair{Kind::pipeliner, pipeliners}, {Kind::reader, readers},
                                   {Kind::slowloris, slowloris}, {Kind::keeper, keepers},
                                   {Kind::closer, closers}, {Kind::once, once}, {Kind::chunked, chunked},
                                   {Kind::fiver, fivers}})
            for (int i = 0; i < count; ++i)
                open(kind);
        long idleOpened = 0, gapOpened = 0, freshOpened = 0, keepersOpened = 0, oneshotsOpened = 0, halfshotsOpened = 0;
        auto lastTick = Clock::now();
        while (since(start_) < seconds_ + after) {
            epoll_event events[256];
            int n = epoll_wait(epoll_, events, 256, 1);
            for (int i = 0; i < n; ++i) {
                if (events[i].events & EPOLLOUT)
                    writable(events[i].data.fd);
                else
                    readable(events[i].data.fd);
            }
            const double now = since(start_);
            const double tick = std::chrono::duration<double>(Clock::now() - lastTick).count();
            lastTick = Clock::now();
            if (now >= seconds_ && !ended_)
                endLoad();
            for (; !ended_ && churn > 0 && idleOpened < long(now * churn); ++idleOpened)
                open(Kind::idle);
            while (!idle_.empty() && (ended_ || since(idle_.front().second) >= hold)) {
                ::close(idle_.front().first);
                idle_.pop_front();
            }
            for (; !ended_ && keepersPerSecond > 0 && keepersOpened < long(now * keepersPerSecond); ++keepersOpened)
                open(Kind::keeper);
            for (; !ended_ && oneshotsOpened < long(now * oneshots); ++oneshotsOpened)
                open(Kind::oneshot);
            for (; !ended_ && halfshotsOpened < long(now * halfshots); ++halfshotsOpened)
                open(Kind::halfshot);
            // The honest readers, then the fetches, one at a time.
            if (!ended_ && now >= honestAfter && !honestRunning_) {
                if (honestStarted_ < honest) {
                    ++honestStarted_;
                    honestRunning_ = open(Kind::honest) != nullptr;
                } else if (fetchesStarted_ < fetches) {
                    ++fetchesStarted_;
                    honestRunning_ = open(Kind::fetch) != nullptr;
                }
            }
            // One gap probe every 250 ms, taking the gaps in turn.
            for (; !ended_ && !gaps.empty() && gapOpened < long(now / 0.25); ++gapOpened)
                if (Client* probe = open(Kind::gap))
                    probe->gapMs = gaps[std::size_t(gapOpened) % gaps.size()];
            for (; freshEvery > 0 && freshOpened < long(now * 1000 / freshEvery); ++freshOpened)
                if (Client* probe = open(Kind::fresh))
                    probe->afterLoad = ended_;
            std::vector<int> paced;
            for (auto& [fd, client] : clients_)
                paced.push_back(fd);
            for (int fd : paced)
                if (auto found = clients_.find(fd); found != clients_.end())
                    pace(*found->second, tick);
        }
        if (!ended_)
            endLoad();
        report();
    }

private:
    Client* open(Kind kind)
    {
        auto client = std::make_unique<Client>();
        client->kind = kind;
        client->opened = client->answerStart = Clock::now();
        client->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (client->fd < 0) {
            ++socketFailures_;
            return nullptr;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port_));
        if (kind == Kind::reader && rcvbuf > 0)
            ::setsockopt(client->fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        ::connect(client->fd, reinterpret_cast<sockaddr*>(&address), sizeof address); // EINPROGRESS
        if (kind == Kind::honest)
            client->pending = largeRequest;
        else if (kind == Kind::fetch)
            client->pending = mediumRequest;
        else if (kind == Kind::chunked)
            client->pending = chunkedHead;
        else if (kind == Kind::fiver)
            for (int i = 0; i < 5; ++i)
                client->pending += largeRequest;
        else if (kind == Kind::pipeliner)
            for (int i = 0; i < pipelineDepth; ++i)
                client->pending += smallRequest;
        else if (kind == Kind::reader)
            for (int i = 0; i < ahead; ++i)
                client->pending += largeRequest;
        else if (kind == Kind::fresh || kind == Kind::keeper || kind == Kind::once || kind == Kind::oneshot
                 || kind == Kind::halfshot)
            client->pending = smallRequest;
        else if (kind == Kind::slowloris)
            client->pending = endlessHead;
        if (kind == Kind::idle) {
            // Never asks: known only by its descriptor until its hold ends.
            idle_.emplace_back(client->fd, client->opened);
            return nullptr;
        } else {
            // Told when the connection is made; readers are read at their pace, not when told.
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.fd = client->fd;
            epoll_ctl(epoll_, EPOLL_CTL_ADD, client->fd, &event);
        }
        Client* raw = client.get();
        clients_[client->fd] = std::move(client);
        return raw;
    }

    void writable(int fd)
    {
        auto found = clients_.find(fd);
        if (found == clients_.end())
            return;
        Client& client = *found->second;
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error) {
            closedByServer(client);
            return;
        }
        epoll_event event{};
        event.events = client.kind == Kind::reader || client.kind == Kind::honest ? 0u : unsigned(EPOLLIN | EPOLLRDHUP);
        event.data.fd = fd;
        epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
        client.connected = true;
        client.waiting = client.kind == Kind::keeper;
        client.nextAt = since(start_) + drip / 1000;
        if (!client.pending.empty())
            send(client, std::exchange(client.pending, {}));
        if (client.kind == Kind::closer || client.kind == Kind::halfshot || client.kind == Kind::fiver
            || (client.kind == Kind::reader && halfClose))
            ::shutdown(fd, SHUT_WR);
    }

    void send(Client& client, const std::string& text)
    {
        client.asked = ::send(client.fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
    }
    void sendAhead(Client& client)
    {
        std::string batch;
        for (int i = 0; i < pipelineDepth; ++i)
            batch += smallRequest;
        send(client, batch);
    }

    void drop(int fd)
    {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        clients_.erase(fd);
    }

    // The load's time is over: every client but the probes goes, readers still reading counted.
    void endLoad()
    {
        ended_ = true;
        std::vector<int> load;
        for (auto& [fd, client] : clients_) {
            if (client->kind == Kind::reader && client->answers < std::size_t(ahead))
                ++readsRunning_;
            if ((client->kind == Kind::honest || client->kind == Kind::fetch) && client->answers == 0)
                ++honestRunningAtEnd_;
            if (client->kind != Kind::fresh)
                load.push_back(fd);
        }
        for (int fd : load)
            drop(fd);
    }

    void pace(Client& client, double tick)
    {
        const double now = since(start_);
        if ((client.kind == Kind::gap || client.kind == Kind::fresh) && since(client.opened) > probeTimeout) {
            closedByServer(client);
            return;
        }
        if (client.kind == Kind::gap && client.connected && !client.asked &&
            since(client.opened) * 1000 >= client.gapMs) {
            send(client, smallRequest);
            if (!client.asked)
                finishGap(client, false);
        }
        if (client.kind == Kind::reader || client.kind == Kind::honest) {
            const double pace = client.kind == Kind::honest ? honestRate : rate;
            client.budget = std::min(client.budget + pace * tick, std::max(256.0 * 1024, pace / 50));
            if (client.connected && client.budget >= 4096)
                readable(client.fd);
        }
        if (client.kind == Kind::chunked && client.connected) {
            static const std::string chunk = "4000\r\n" + std::string(0x4000, 'x') + "\r\n";
            ::send(client.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if (client.kind == Kind::slowloris && client.connected && now >= client.nextAt) {
            send(client, "a");
            client.nextAt = now + drip / 1000;
        }
        if (client.kind == Kind::keeper && client.connected && !client.waiting && now >= client.nextAt) {
            send(client, smallRequest);
            client.waiting = true;
        }
    }

    void readable(int fd)
    {
        auto found = clients_.find(fd);
        if (found == clients_.end())
            return;
        Client& client = *found->second;
        char buffer[65536];
        for (;;) {
            std::size_t want = sizeof buffer;
            if (client.kind == Kind::reader || client.kind == Kind::honest) {
                want = std::min<std::size_t>(want, std::size_t(client.budget));
                if (want < 4096)
                    return; // read at the reader's pace: the rest waits in the kernel
            }
            ssize_t n = ::recv(fd, buffer, want, 0);
            if (n > 0) {
                received(client, buffer, std::size_t(n));
                if (clients_.find(fd) == clients_.end())
                    return;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            closedByServer(client);
            return;
        }
    }

    void received(Client& client, const char* data, std::size_t size)
    {
        switch (client.kind) {
        case Kind::idle:
        case Kind::slowloris:
        case Kind::closer:
        case Kind::chunked:
        case Kind::fiver:
            return;
        case Kind::reader:
            client.budget -= double(size);
            readBody(client, std::string_view(data, size));
            return;
        case Kind::honest:
        case Kind::fetch:
            client.budget -= double(size);
            client.received.append(data, size);
            if (isRefusal(client.received)) {
                ++honestRefused_[client.kind == Kind::fetch];
                honestRunning_ = false;
                drop(client.fd);
            } else if (takeAnswers(client.received) > 0) {
                ++client.answers;
                ++honestWhole_[client.kind == Kind::fetch];
                honestRunning_ = false;
                drop(client.fd);
            }
            return;
        case Kind::oneshot:
        case Kind::halfshot:
            client.received.append(data, size);
            if (takeAnswers(client.received) > 0) {
                ++answered_[int(client.kind)];
                // A half-closed one waits for the server to close it.
                if (client.kind == Kind::oneshot)
                    drop(client.fd);
            }
            return;
        case Kind::pipeliner: {
            client.received.append(data, size);
            std::size_t got = takeAnswers(client.received);
            pipelined_ += got;
            client.answers += got;
            if (client.answers % pipelineDepth == 0 && got)
                sendAhead(client);
            return;
        }
        case Kind::keeper:
        case Kind::once:
            client.received.append(data, size);
            if (std::size_t got = takeAnswers(client.received)) {
                answered_[int(client.kind)] += long(got);
                client.waiting = false;
                client.nextAt = since(start_) + every / 1000;
            }
            return;
        case Kind::gap:
        case Kind::fresh:
            client.received.append(data, size);
            if (client.kind == Kind::fresh && isRefusal(client.received)) {
                ++(client.afterLoad ? freshAfter_ : fresh_).refused;
                drop(client.fd);
            } else if (takeAnswers(client.received) > 0) {
                if (client.kind == Kind::gap)
                    finishGap(client, true);
                else
                    finishFresh(client, true);
            }
            return;
        }
    }

    // A reader's answers one after another, each a head with its Content-Length and that many bytes.
    void readBody(Client& client, std::string_view data)
    {
        std::string rest(data);
        std::size_t at = 0;
        for (;;) {
            if (client.expected < 0) {
                client.received.append(rest, at, std::string::npos);
                const auto end = client.received.find("\r\n\r\n");
                if (end == std::string::npos)
                    return;
                const auto length = client.received.find("Content-Length: ");
                client.expected = length < end ? std::atoll(client.received.c_str() + length + 16) : 0;
                if (isRefusal(client.received)) {
                    ++readsRefused_;
                    restartReader(client);
                    return;
                }
                client.bodyBytes = 0;
                rest = client.received.substr(end + 4);
                at = 0;
                client.received.clear();
            }
            const std::size_t taken = std::min(rest.size() - at, std::size_t(client.expected) - client.bodyBytes);
            client.bodyBytes += taken;
            at += taken;
            if (client.bodyBytes < std::size_t(client.expected))
                return;
            ++readsFinished_;
            readBytes_ += double(client.bodyBytes);
            readSeconds_ += since(client.answerStart);
            client.answerStart = Clock::now();
            client.expected = -1;
            if (++client.answers >= std::size_t(ahead)) {
                restartReader(client);
                return;
            }
            if (at == rest.size())
                return;
        }
    }

    void closedByServer(Client& client)
    {
        ++closed_[int(client.kind)];
        switch (client.kind) {
        case Kind::idle:
            return; // dropped when its hold ends
        case Kind::reader:
            if (client.answers < std::size_t(ahead)) {
                ++readsCut_;
                readBytes_ += double(client.bodyBytes);
            }
            restartReader(client);
            return;
        case Kind::honest:
        case Kind::fetch:
            ++honestCut_[client.kind == Kind::fetch];
            honestRunning_ = false;
            drop(client.fd);
            return;
        case Kind::oneshot:
        case Kind::halfshot:
            drop(client.fd);
            return;
        case Kind::pipeliner:
        case Kind::slowloris:
        case Kind::keeper:
        case Kind::closer:
        case Kind::chunked:
        case Kind::fiver:
        case Kind::once: {
            // As such a client does: it asks again, on a new connection.
            const Kind kind = client.kind;
            drop(client.fd);
            if (!ended_)
                open(kind);
            return;
        }
        case Kind::gap:
            finishGap(client, false);
            return;
        case Kind::fresh:
            finishFresh(client, false);
            return;
        }
    }

    void restartReader(Client& client)
    {
        drop(client.fd);
        if (since(start_) < seconds_ - 3) // one that could not finish in time is not started
            open(Kind::reader);
    }

    void finishGap(Client& client, bool answered)
    {
        auto& [yes, all] = gapResults_[client.gapMs];
        yes += answered;
        ++all;
        drop(client.fd);
    }

    void finishFresh(Client& client, bool answered)
    {
        Probes& probes = client.afterLoad ? freshAfter_ : fresh_;
        if (answered)
            probes.times.push_back(since(client.opened) * 1000);
        else
            ++probes.failed;
        drop(client.fd);
    }

    void report()
    {
        if (churn > 0)
            std::printf("idle %.0f/s held %.1f s: %zu opened, %ld sockets refused by our own limit\n", churn, hold,
                        std::size_t(churn * seconds_), socketFailures_);
        if (readers > 0) {
            const long ended = readsFinished_ + readsCut_;
            std::printf("readers %d at %.1f MB/s: %ld of %ld downloads finished, %.2f MB each on average, "
                        "%.2f s per finished one, %ld cut, %ld running at the end, %ld refused\n",
                        readers, rate / 1e6, readsFinished_, ended, ended ? readBytes_ / double(ended) / 1e6 : 0.0,
                        readsFinished_ ? readSeconds_ / double(readsFinished_) : 0.0, readsCut_, readsRunning_,
                        readsRefused_);
        }
        if (pipeliners > 0)
            std::printf("pipeliners %d: %zu answers, %ld connections closed by the server\n", pipeliners, pipelined_,
                        closed_[int(Kind::pipeliner)]);
        if (slowloris > 0)
            std::printf("slowloris %d: a byte every %.0f ms, %ld connections closed by the server\n", slowloris, drip,
                        closed_[int(Kind::slowloris)]);
        if (keepers > 0 || keepersPerSecond > 0)
            std::printf("keepers %d and %d/s asking every %.0f ms: %ld answers, %ld connections closed by the server\n",
                        keepers, keepersPerSecond, every, answered_[int(Kind::keeper)], closed_[int(Kind::keeper)]);
        if (closers > 0)
            std::printf("closers %d: %ld connections closed by the server\n", closers, closed_[int(Kind::closer)]);
        if (once > 0)
            std::printf("once %d: %ld answers, %ld connections closed by the server\n", once,
                        answered_[int(Kind::once)], closed_[int(Kind::once)]);
        if (honest > 0)
            std::printf("honest readers %d at %.1f MB/s: %ld whole, %ld cut, %ld running at the end, %ld refused\n",
                        honest, honestRate / 1e6, honestWhole_[0], honestCut_[0], fetches > 0 ? 0L : honestRunningAtEnd_,
                        honestRefused_[0]);
        if (fetches > 0)
            std::printf("fetches %d: %ld whole, %ld cut, %ld running at the end, %ld refused\n", fetches, honestWhole_[1],
                        honestCut_[1], honestRunningAtEnd_, honestRefused_[1]);
        if (oneshots > 0 || halfshots > 0)
            std::printf("asking once %.0f/s and ending their side %.0f/s: %ld and %ld answers\n", oneshots, halfshots,
                        answered_[int(Kind::oneshot)], answered_[int(Kind::halfshot)]);
        if (chunked > 0 || fivers > 0)
            std::printf("endless bodies %d and five at once %d: %ld and %ld connections closed by the server\n", chunked, fivers,
                        closed_[int(Kind::chunked)], closed_[int(Kind::fiver)]);
        for (auto& [gap, result] : gapResults_)
            std::printf("gap %d ms: %d of %d answered\n", gap, result.first, result.second);
        if (freshEvery > 0)
            fresh_.print("fresh", freshEvery);
        if (freshEvery > 0 && after > 0)
            freshAfter_.print("after the load, fresh", freshEvery);
    }

    int port_;
    double seconds_;
    int epoll_;
    Clock::time_point start_;
    bool ended_ = false;
    std::map<int, std::unique_ptr<Client>> clients_;
    std::deque<std::pair<int, Clock::time_point>> idle_;
    long socketFailures_ = 0;
    long readsFinished_ = 0, readsCut_ = 0, readsRunning_ = 0, readsRefused_ = 0;
    double readBytes_ = 0, readSeconds_ = 0;
    std::size_t pipelined_ = 0;
    long closed_[kinds] = {};
    long answered_[kinds] = {};
    std::map<int, std::pair<int, int>> gapResults_;
    int honestStarted_ = 0, fetchesStarted_ = 0;
    bool honestRunning_ = false;
    long honestWhole_[2] = {}, honestCut_[2] = {}, honestRefused_[2] = {}, honestRunningAtEnd_ = 0;
    Probes fresh_, freshAfter_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT SECONDS [churn=N] [hold=S] [pipeliners=N] [readers=N] [rate=B/s] "
                             "[ahead=N] [halfclose=1] [gaps=MS,...] [fresh=MS] [after=S] [slowloris=N] [drip=MS] "
                             "[keepers=N] [every=MS] [keepersPerSecond=N] [closers=N] [once=N] [rcvbuf=B] [honest=N] [honestRate=B/s] "
                             "[honestAfter=S] [fetches=N] [oneshots=N/s] [halfshots=N/s] [chunked=N] [fivers=N]\n", argv[0]);
        return 2;
    }
    // Thousands of idle connections at once: as many descriptors as the system lets us have.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    Load load(std::atoi(argv[1]), std::atof(argv[2]));
    const std::map<std::string, double*> reals{{"churn", &load.churn}, {"hold", &load.hold}, {"rate", &load.rate},
                                                {"fresh", &load.freshEvery}, {"after", &load.after},
                                                {"drip", &load.drip}, {"every", &load.every},
                                                {"honestRate", &load.honestRate}, {"honestAfter", &load.honestAfter},
                                                {"oneshots", &load.oneshots}, {"halfshots", &load.halfshots}};
    const std::map<std::string, int*> counts{
        {"pipeliners", &load.pipeliners}, {"readers", &load.readers},     {"ahead", &load.ahead},
        {"slowloris", &load.slowloris},   {"keepers", &load.keepers},     {"keepersPerSecond", &load.keepersPerSecond},
        {"closers", &load.closers},       {"once", &load.once},           {"rcvbuf", &load.rcvbuf},
        {"honest", &load.honest},         {"fetches", &load.fetches},     {"chunked", &load.chunked},
        {"fivers", &load.fivers}};
    for (int i = 3; i < argc; ++i) {
        std::string option = argv[i];
        auto equals = option.find('=');
        std::string name = option.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
        if (auto real = reals.find(name); real != reals.end())
            *real->second = std::atof(value.c_str());
        else if (auto count = counts.find(name); count != counts.end())
            *count->second = std::atoi(value.c_str());
        else if (name == "halfclose")
            load.halfClose = value == "1";
        else if (name == "gaps")
            for (std::size_t at = 0; at < value.size();) {
                load.gaps.push_back(std::atoi(value.c_str() + at));
                at = value.find(',', at);
                at = at == std::string::npos ? value.size() : at + 1;
            }
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    load.ahead = std::max(1, load.ahead);
    load.run();
    return 0;
}
