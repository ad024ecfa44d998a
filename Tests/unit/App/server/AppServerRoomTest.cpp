// Which connection gives way past the static server's limit: the rule on its own, then a real
// server under another process's clients: idle, slow, pipelining, asking again and again.
#include "App/server/AppServerRoom.h"

#include <malloc.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "AppServerClient.h"
#include "App/server/AppServer.h"
#include "support/ChildProcess.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

using namespace std::chrono_literals;
using kx::AppServerRoom;
using Key = AppServerRoom::Key;

struct Room {
    using Time = AppServerRoom::Time;
    AppServerRoom room;
    char keys[16] = {};
    std::map<Key, AppServerRoom::Seen> seen; // quiet unless set
    const AppServerRoom::Look look = [this](Key key) { return seen[key]; };

    Key operator[](int index) { return &keys[index]; }
    // Opened at `at`; each answer in `answers` read at its first and ended at its second time.
    Key connection(int index, Time at, std::vector<std::pair<Time, Time>> answers = {})
    {
        room.opened(&keys[index], at);
        for (auto [read, ended] : answers) {
            room.requestRead(&keys[index], read);
            room.requestEnded(&keys[index], ended);
        }
        return &keys[index];
    }
    Key closeNext(Key newcomer, Time now)
    {
        auto chosen = room.choose(newcomer, now, look);
        if (!chosen)
            return nullptr;
        room.forget(*chosen);
        return *chosen;
    }
};

TEST(AppServerRoom, ClosesWhatDoesLeastForItsClientTheOldestFromItsAcceptFirst)
{
    Room r;
    const AppServerRoom::Time now = 100s;
    // Asked again and again, its last answer a moment ago: it is about to ask once more.
    r.connection(0, 10s, {{now - 20ms, now - 10ms}});
    // Idle between answers, the first since long before the second: the one open longest goes
    // first, however recently it asked.
    auto idleOld = r.connection(1, 20s, {{30s, 31s}, {now - 3s, now - 2s}});
    auto idleNew = r.connection(2, 40s, {{41s, 42s}});
    // Its client has taken nothing of its answer for a while; another whose answer the server is
    // slow to feed; one that has ended its side after its request, and reads.
    auto stalled = r.connection(3, 50s);
    r.room.requestRead(stalled, now - AppServerRoom::takingWindow);
    r.seen[stalled].untaken = true;
    r.room.requestRead(r.connection(4, 50s), now - 10s);
    auto halfClosed = r.connection(12, 1s);
    r.room.requestRead(halfClosed, now - 1s);
    r.seen[halfClosed].ended = true;
    // Never asked, the older past its grace first; one just opened has its moment to ask.
    auto unaskedOld = r.connection(5, 60s);
    auto unaskedNew = r.connection(6, 70s);
    r.connection(7, now - 1ms);
    // The newest of all, but its client has gone; another has ended its side between two answers.
    auto gone = r.connection(8, now - 1ms);
    r.seen[gone].gone = true;
    auto ended = r.connection(13, 90s, {{91s, 92s}});
    r.seen[ended].ended = true;
    // A request sent on it that the server has not read yet.
    auto sent = r.connection(9, 5s);
    r.seen[sent].sent = true;
    auto newcomer = r.connection(10, now);

    for (Key expected : {gone, ended, idleOld, idleNew, stalled, unaskedOld, unaskedNew})
        EXPECT_EQ(r.closeNext(newcomer, now), expected);
    EXPECT_EQ(r.closeNext(newcomer, now), nullptr);

    // The first bytes of its next request: its client asks, but has sent nothing more for a while.
    auto asking = r.connection(11, 80s, {{81s, 82s}});
    r.room.requestStarted(asking);
    EXPECT_EQ(r.room.choose(newcomer, now, r.look), asking);
}

TEST(AppServerRoom, AnAnswerIsTakenWhileItsClientAcknowledgesSomeOfItWithinTheWindow)
{
    Room r;
    const AppServerRoom::Time now = 100s;
    auto slow = r.connection(0, 10s);
    r.room.requestRead(slow, 20s);
    r.seen[slow] = {.untaken = true, .taken = 128 * 1024};
    // Taken a step at a time, as a slow reader's window opens: the step is its progress.
    EXPECT_EQ(r.room.choose(nullptr, now, r.look), std::nullopt);
    EXPECT_EQ(r.room.choose(nullptr, now + AppServerRoom::takingWindow - 1ms, r.look), std::nullopt);
    r.seen[slow].taken *= 2;
    EXPECT_EQ(r.room.choose(nullptr, now + AppServerRoom::takingWindow + 1s, r.look), std::nullopt);
    EXPECT_EQ(r.room.choose(nullptr, now + 2 * AppServerRoom::takingWindow + 1s, r.look), slow);
}

TEST(AppServerRoom, PastTheHardCapTheNewestUnaskedGoesThenTheOldestBetweenAnswersThenTheSlowestAnswerNeverANormalOne)
{
    Room r;
    const AppServerRoom::Time now = 100s;
    auto newcomer = r.connection(15, now);
    r.room.requestRead(newcomer, now);
    const auto next = [&] {
        auto chosen = r.room.chooseBeyondCap(newcomer, now, r.look);
        if (chosen)
            r.room.forget(*chosen);
        return chosen.value_or(nullptr);
    };
    auto unaskedOld = r.connection(0, 10s);
    auto unaskedNew = r.connection(1, now - AppServerRoom::askingGrace - 1ms);
    auto young = r.connection(2, now - 1ms);
    r.seen[r.connection(3, now - AppServerRoom::askingGrace - 10ms)].sent = true;
    auto keptOld = r.connection(4, 20s, {{21s, 22s}});
    auto keptNew = r.connection(5, 30s, {{31s, now - 1ms}});
    r.seen[r.connection(6, 5s, {{6s, 7s}})].sent = true; // its next request is in
    // Answers under way for 60 s: one taken at a normal pace, one a byte now and then, one as
    // slowly with requests sent ahead, one that takes nothing; and one begun a moment ago.
    const auto answering = [&](int index, std::uint64_t taken) {
        auto key = r.connection(index, 30s);
        r.room.requestRead(key, 40s, 1000);
        r.seen[key].taken = 1000 + taken;
        return key;
    };
    answering(7, 60 * AppServerRoom::normalPace);
    auto trickling = answering(8, 60'000);
    auto tricklingAhead = answering(9, 60'000);
    r.seen[tricklingAhead].sent = true;
    auto stalled = answering(10, 0);
    auto justBegun = r.connection(11, now - 1s);
    r.room.requestRead(justBegun, now - 1s);

    EXPECT_EQ(next(), unaskedNew);
    EXPECT_EQ(next(), unaskedOld);
    // One that may still ask: nothing else goes before it has had its moment.
    EXPECT_EQ(r.room.recheckAfter(now), AppServerRoom::askingGrace - 1ms);
    EXPECT_EQ(next(), nullptr);
    r.room.requestRead(young, now);
    EXPECT_EQ(r.room.recheckAfter(now), std::nullopt);
    for (Key expected : {keptOld, keptNew, tricklingAhead, stalled, trickling})
        EXPECT_EQ(next(), expected);
    // Neither an answer taken at a normal pace, nor one too young to judge, nor the newcomer.
    EXPECT_EQ(next(), nullptr);
}

// Another process's connections that never ask: `perSecond` of them, each closed `hold` after
// its connect, opened as the test's loop turns.
class IdleChurn {
public:
    IdleChurn(int port, double perSecond, std::chrono::milliseconds hold)
        : port_(port)
        , perSecond_(perSecond)
        , hold_(hold)
    {
    }
    void step()
    {
        const auto now = std::chrono::steady_clock::now();
        for (; made_ < std::chrono::duration<double>(now - start_).count() * perSecond_; ++made_)
            open_.emplace_back(std::make_unique<kxtest::BlockingClient>(port_), now);
        while (!open_.empty() && now - open_.front().second >= hold_)
            open_.pop_front();
    }
    long made() const { return made_; }

private:
    int port_;
    double perSecond_;
    std::chrono::milliseconds hold_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    long made_ = 0;
    std::deque<std::pair<std::unique_ptr<kxtest::BlockingClient>, std::chrono::steady_clock::time_point>> open_;
};

// Another process's clients that keep asking: each sends `depth` requests at once and again as
// soon as all are answered, and when the server closes its connection it asks anew on another,
// as a browser does.
class Askers {
public:
    Askers(int port, std::size_t count, int depth)
        : port_(port)
        , depth_(depth)
        , clients_(count)
        , answered_(count)
    {
    }
    void step()
    {
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            auto& client = clients_[i];
            const bool open = client && client->receiveAvailable();
            if (const auto got = client ? kxtest::answersIn(client->received).size() : 0; got >= std::size_t(depth_)) {
                answered_[i] += got;
                client->received.clear();
                if (open)
                    ask(*client);
            }
            if (!open) {
                client = std::make_unique<kxtest::BlockingClient>(port_);
                ask(*client);
            }
        }
    }
    std::size_t leastAnswered() const { return *std::min_element(answered_.begin(), answered_.end()); }

private:
    void ask(kxtest::BlockingClient& client) const
    {
        std::string requests;
        for (int i = 0; i < depth_; ++i)
            requests += "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        client.send(requests);
    }

    int port_;
    int depth_;
    std::vector<std::unique_ptr<kxtest::BlockingClient>> clients_;
    std::vector<std::size_t> answered_;
};

// A client that reads the answer to its request at `bytesPerSecond`, however late the test's
// loop turns, and keeps its connection for more, as a browser does.
struct PacedReader {
    PacedReader(int port, const std::string& path, double bytesPerSecond)
        : client(port)
        , rate(bytesPerSecond)
    {
        client.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    void step()
    {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        const auto wanted = std::size_t(elapsed.count() * rate);
        if (wanted > allowed)
            client.receiveAvailable(wanted - allowed);
        allowed = std::max(allowed, wanted);
    }
    std::size_t body() const
    {
        const auto head = client.received.find("\r\n\r\n");
        return head == std::string::npos ? 0 : client.received.size() - head - 4;
    }

    kxtest::BlockingClient client;
    double rate;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::size_t allowed = 0;
};

// Another program's clients that hold their places reading slowly: each asks `depth` times ahead
// for a large file and reads at `bytesPerSecond` through a small receive buffer, and connects
// again when it is closed.
struct SlowHolders {
    struct Client {
        std::unique_ptr<kxtest::BlockingClient> connection;
        std::chrono::steady_clock::time_point since;
        std::size_t read = 0;
    };
    int port;
    int depth;
    double bytesPerSecond;
    std::vector<Client> clients;

    void step()
    {
        const auto now = std::chrono::steady_clock::now();
        for (auto& client : clients) {
            if (!client.connection || client.connection->closed || !client.connection->isOpen()) {
                client = {std::make_unique<kxtest::BlockingClient>(port, 0, 4096), now, 0};
                std::string requests;
                for (int i = 0; i < depth; ++i)
                    requests += "GET /media.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                client.connection->send(requests);
            }
            const auto wanted = std::size_t(std::chrono::duration<double>(now - client.since).count() * bytesPerSecond);
            if (wanted > client.read) {
                client.connection->receiveAvailable(wanted - client.read);
                client.read = wanted;
                client.connection->received.clear();
            }
        }
    }
};

class AppServerPastItsLimit : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(folder / "index.html") << "<html>editor</html>";
        std::ofstream(folder / "media.bin", std::ios::binary) << std::string(mediaSize, 'm');
        ASSERT_TRUE(server.listen(taken.port + 1, taken.port + 40).isSuccess());
    }
    // The answer to a request on a fresh connection while `load` goes on, or what came instead.
    std::string freshAnswer(const std::string& path, const std::function<void()>& load)
    {
        kxtest::BlockingClient fresh(server.port());
        fresh.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        EXPECT_TRUE(kxtest::spinUntil(
            [&] {
                load();
                return !fresh.receiveAvailable() || !kxtest::answersIn(fresh.received).empty();
            },
            30s))
            << path;
        const auto answers = kxtest::answersIn(fresh.received);
        return answers.size() == 1 ? answers.front() : fresh.received;
    }

    static constexpr std::size_t mediaSize = 8u << 20;
    kxtest::TemporaryDirectory folder;
    kxtest::TakenPort taken;
    kx::AppServer server{folder.path(), 2, {16, 15s, 30s}};
};

TEST_F(AppServerPastItsLimit, HonestReadersAreNeverCutWhileIdleConnectionsChurn)
{
    kxtest::blockingGet(server.port(), "/index.html"); // the server's workers are all there once it answers
    const int before = kxtest::openSockets();
    {
        IdleChurn churn(server.port(), 100, 500ms);
        // At a media element's pace, its client's side ended after it asked (still read to, also
        // what is left of its answer once the connection ends); at 25 KB/s, whose window opens in
        // steps seconds apart; and one that takes nothing, which goes.
        PacedReader fast(server.port(), "/media.bin", 1e6), slow(server.port(), "/media.bin", 25e3),
            stalled(server.port(), "/media.bin", 0);
        fast.client.closeSending();
        ASSERT_TRUE(kxtest::spinUntil(
            [&] {
                churn.step();
                fast.step();
                slow.step();
                const bool cut = (fast.client.closed && fast.body() < mediaSize) || !slow.client.isOpen();
                return cut || (fast.body() == mediaSize && slow.body() >= 250'000 && !stalled.client.isOpen());
            },
            120s));
        EXPECT_GT(churn.made(), 50);
        EXPECT_TRUE(fast.client.received.starts_with("HTTP/1.1 200")) << fast.client.received.substr(0, 200);
        EXPECT_EQ(fast.body(), mediaSize);
        EXPECT_TRUE(slow.client.isOpen()) << slow.body();
    }
    // Every connection of the churn is let go of.
    EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::openSockets() <= before; }, 20s))
        << kxtest::openSockets() - before;
}

TEST_F(AppServerPastItsLimit, ClientsThatKeepAskingGiveTheirPlacesUpToAFreshRequest)
{
    // More than the acceptor takes on (the limit and half of it again), each asking again as soon
    // as it is answered.
    Askers askers(server.port(), 30, 1);
    ASSERT_TRUE(kxtest::spinUntil(
        [&] {
            askers.step();
            return askers.leastAnswered() >= 10;
        },
        30s));
    const std::string answer = freshAnswer("/index.html", [&] { askers.step(); });
    EXPECT_EQ(kxtest::bodyOf(answer), "<html>editor</html>") << answer;
}

TEST_F(AppServerPastItsLimit, SlowlorisClientsClosedInTheMiddleOfTheirRequestsLeaveNothingBehind)
{
    // Past the limits the application has, by as many clients as a hostile program opens.
    kx::AppServer wide{folder.path(), 2, kx::AppServer::defaultLimits};
    ASSERT_TRUE(wide.listen(taken.port + 41, taken.port + 80).isSuccess());
    // A server's workers, with their descriptors, start a moment after it listens: they are all
    // there once it has answered.
    for (const kx::AppServer* each : {&server, &wide})
        kxtest::blockingGet(each->port(), "/index.html");
    const int before = kxtest::openSockets();
    const auto heap = [] {
        const auto info = ::mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const std::size_t heapBefore = heap();
    // More than the server keeps, each sending a byte of its endless head now and then, and
    // connecting again as soon as it is closed: the server closes one for each new one, ten
    // thousand times (some 15 s on an idle machine, over two minutes on a busy one), more than
    // enough for a few hundred bytes kept for each to show.
    std::vector<std::unique_ptr<kxtest::BlockingClient>> clients(400);
    int closed = 0;
    ASSERT_TRUE(kxtest::spinUntil(
        [&] {
            for (auto& client : clients)
                if (!client || !client->isOpen()) {
                    closed += bool(client);
                    client = std::make_unique<kxtest::BlockingClient>(wide.port());
                    client->send("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ");
                } else if (closed % 7 == 0) {
                    client->send("a");
                }
            return closed >= 10000;
        },
        200s))
        << closed;
    clients.clear();
    EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::openSockets() <= before; }, 20s))
        << kxtest::openSockets() - before;
    // AddressSanitizer keeps what is freed for a while.
    if (!kxtest::underAddressSanitizer()) {
        EXPECT_LT(heap(), heapBefore + (3u << 20));
    }
    EXPECT_EQ(kxtest::bodyOf(kxtest::blockingGet(wide.port(), "/index.html")), "<html>editor</html>");
}

TEST_F(AppServerPastItsLimit, AConnectionThatAsksAMomentAfterItsConnectIsAnsweredBesidePipeliningClients)
{
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    Askers pipelining(server.port(), 4, 4);
    // Each of them lives 0.3 s here, if the oldest go first, whichever worker has them.
    IdleChurn churn(server.port(), 40, 1s);
    ASSERT_TRUE(kxtest::spinUntil(
        [&] {
            churn.step();
            pipelining.step();
            return churn.made() >= 60;
        },
        30s));
    for (int round = 0; round < 6; ++round) {
        kxtest::BlockingClient late(server.port());
        const auto connected = std::chrono::steady_clock::now();
        bool asked = false;
        ASSERT_TRUE(kxtest::spinUntil(
            [&] {
                churn.step();
                pipelining.step();
                if (!asked && std::chrono::steady_clock::now() - connected >= 100ms)
                    asked = late.send(request);
                return asked && (!late.receiveAvailable() || !kxtest::answersIn(late.received).empty());
            },
            30s));
        EXPECT_EQ(kxtest::answersIn(late.received).size(), 1u) << round << ": " << late.received;
    }
    EXPECT_GT(pipelining.leastAnswered(), 0u);
}

// Past the hard cap, held by clients that each read a byte now and then with answers asked for
// ahead: honest readers and fetches that come meanwhile are answered whole, never cut to make
// room for themselves.
TEST_F(AppServerPastItsLimit, PastTheHardCapHonestReadersAndFetchesAreWholeBesideClientsHoldingPlacesReadingSlowly)
{
    std::ofstream(folder / "fetch.bin", std::ios::binary) << std::string(1u << 20, 'f');
    kxtest::blockingGet(server.port(), "/index.html");
    SlowHolders holders{server.port(), 20, 1000, std::vector<SlowHolders::Client>(20)};
    // All of them asked: answers under way on every place.
    const auto start = std::chrono::steady_clock::now();
    (void)kxtest::spinUntil([&] {
        holders.step();
        return std::chrono::steady_clock::now() - start >= 2s;
    }, 10s);
    for (int round = 0; round < 3; ++round) {
        PacedReader reader(server.port(), "/media.bin", 4e6);
        ASSERT_TRUE(kxtest::spinUntil(
            [&] {
                holders.step();
                reader.step();
                return reader.client.closed || reader.body() >= mediaSize;
            },
            60s))
            << round << ": " << reader.body();
        EXPECT_TRUE(reader.client.received.starts_with("HTTP/1.1 200")) << reader.client.received.substr(0, 200);
        EXPECT_EQ(reader.body(), mediaSize) << round;
        const std::string fetched = kxtest::blockingGet(server.port(), "/fetch.bin");
        EXPECT_EQ(kxtest::bodyOf(fetched).size(), 1u << 20) << round << ": " << fetched.substr(0, 200);
    }
}

// Every place the acceptor gives held by answers taken at a normal pace, for minutes, and never
// cut: a fresh request is not left waiting behind them. A short answer comes at once; a long one
// is refused, to be asked for again.
TEST_F(AppServerPastItsLimit, PastTheMostItServesAFreshRequestGetsAShortAnswerAtOnceAndALongOneIsAskedForAgain)
{
    SlowHolders readers{server.port(), 20, 100e3, std::vector<SlowHolders::Client>(24)};
    readers.step();
    const std::string shortOne = freshAnswer("/index.html", [&] { readers.step(); });
    EXPECT_TRUE(shortOne.starts_with("HTTP/1.1 200") && kxtest::bodyOf(shortOne) == "<html>editor</html>") << shortOne;
    const std::string longOne = freshAnswer("/media.bin", [&] { readers.step(); });
    EXPECT_TRUE(longOne.starts_with("HTTP/1.1 503") && longOne.find("Retry-After: 1") != std::string::npos)
        << longOne.substr(0, 200);
}

// Full-speed readers keep the workers writing at every turn of their loops while they close
// hundreds of connections a second (clients that ask once, end their side, send endless bodies,
// ask five times at once): a closed socket counts until it is closed for good, so the descriptors
// stay within two for each connection the server takes.
TEST_F(AppServerPastItsLimit, ItsDescriptorsStayWithinTwoForEachConnectionItTakesWhileItsLoopsAreBusy)
{
    std::ofstream(folder / "large.bin", std::ios::binary) << std::string(8u << 20, 'l');
    std::ofstream(folder / "small.bin", std::ios::binary) << std::string(1024, 's');
    kx::AppServer busy{folder.path(), 2, kx::AppServer::defaultLimits}; // each worker the busier
    ASSERT_TRUE(busy.listen(taken.port + 41, taken.port + 80).isSuccess());
    kxtest::blockingGet(busy.port(), "/small.bin"); // its workers are all there once it answers
    const auto descriptors = [] { return int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})); };
    const int rest = descriptors();
    const auto bin = std::filesystem::read_symlink("/proc/self/exe").parent_path(); // the load is not sanitized
    kxtest::Program load({((bin.filename() == "sanitized" ? bin.parent_path() : bin) / "kx_appserver_load").string(),
                          std::to_string(busy.port()), "12", "readers=12", "rate=1000000000", "oneshots=300",
                          "halfshots=200", "chunked=4", "fivers=300"});
    int peak = 0;
    ASSERT_TRUE(kxtest::spinUntil([&] { return (peak = std::max(peak, descriptors()), load.ended()); }, 90s));
    EXPECT_EQ(load.status(), 0) << load.output();
    EXPECT_LE(peak - rest, 2 * 384 + 4) << load.output(); // the acceptor's most, and the pipes to the load
}

} // namespace
