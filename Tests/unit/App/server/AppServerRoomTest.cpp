// Which connection gives way past the static server's limit: the rule on its own, then a real
// server under another process's idle connections.
#include "App/server/AppServerRoom.h"

#include <deque>
#include <fstream>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "AppServerClient.h"
#include "App/server/AppServer.h"
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

TEST(AppServerRoom, PastTheHardCapTheNewestUnaskedGoesThenTheOldestBetweenAnswersThenTheNewestAnswer)
{
    Room r;
    const AppServerRoom::Time now = 100s;
    const auto next = [&] {
        auto chosen = r.room.chooseBeyondCap(now, r.look);
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
    auto answerOld = r.connection(7, 40s);
    r.room.requestRead(answerOld, 41s);
    auto answerNew = r.connection(8, 50s);
    r.room.requestRead(answerNew, 51s);

    EXPECT_EQ(next(), unaskedNew);
    EXPECT_EQ(next(), unaskedOld);
    // One that may still ask: nothing else goes before it has had its moment.
    EXPECT_EQ(r.room.recheckAfter(now), AppServerRoom::askingGrace - 1ms);
    EXPECT_EQ(next(), nullptr);
    r.room.requestRead(young, now);
    EXPECT_EQ(r.room.recheckAfter(now), std::nullopt);
    for (Key expected : {keptOld, keptNew, young, answerNew, answerOld})
        EXPECT_EQ(next(), expected);
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

class AppServerPastItsLimit : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(folder / "index.html") << "<html>editor</html>";
        std::ofstream(folder / "media.bin", std::ios::binary) << std::string(mediaSize, 'm');
        ASSERT_TRUE(server.listen(taken.port + 1, taken.port + 40).isSuccess());
    }

    static constexpr std::size_t mediaSize = 8u << 20;
    kxtest::TemporaryDirectory folder;
    kxtest::TakenPort taken;
    kx::AppServer server{folder.path(), 2, {16, 15s, 30s}};
};

TEST_F(AppServerPastItsLimit, AReaderAtAMediaElementsPaceFinishesWhileIdleConnectionsChurn)
{
    kxtest::blockingGet(server.port(), "/index.html"); // the server's workers are all there once it answers
    const int before = kxtest::openSockets();
    {
        IdleChurn churn(server.port(), 100, 500ms);
        kxtest::BlockingClient reader(server.port());
        reader.get("/media.bin");
        const auto start = std::chrono::steady_clock::now();
        std::size_t allowed = 0;
        const bool ended = kxtest::spinUntil(
            [&] {
                churn.step();
                // 4 MB/s, however late this turn comes.
                const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
                const auto wanted = std::size_t(elapsed.count() * 4e6);
                const std::size_t most = wanted > allowed ? wanted - allowed : 0;
                allowed = std::max(allowed, wanted);
                const bool open = reader.receiveAvailable(most);
                const auto head = reader.received.find("\r\n\r\n");
                return !open || (head != std::string::npos && reader.received.size() >= head + 4 + mediaSize);
            },
            120s);
        ASSERT_TRUE(ended);
        EXPECT_GT(churn.made(), 50);
        EXPECT_TRUE(reader.received.starts_with("HTTP/1.1 200")) << reader.received.substr(0, 200);
        EXPECT_EQ(kxtest::bodyOf(reader.received).size(), mediaSize);
    }
    // Every connection of the churn is let go of.
    EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::openSockets() <= before; }, 20s))
        << kxtest::openSockets() - before;
}

TEST_F(AppServerPastItsLimit, AConnectionThatAsksAMomentAfterItsConnectIsAnsweredBesidePipeliningClients)
{
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<std::unique_ptr<kxtest::BlockingClient>> pipelining;
    std::vector<std::size_t> answered(4, 0);
    const auto keepAsking = [&] {
        for (std::size_t i = 0; i < answered.size(); ++i) {
            if (i == pipelining.size() || !pipelining[i]->receiveAvailable()) {
                // As a browser does when its connection is closed: the requests again, anew.
                auto client = std::make_unique<kxtest::BlockingClient>(server.port());
                if (i == pipelining.size())
                    pipelining.push_back(std::move(client));
                else
                    pipelining[i] = std::move(client);
                pipelining[i]->send(request + request + request + request);
            }
            const std::size_t got = kxtest::answersIn(pipelining[i]->received).size();
            if (got >= 4) {
                answered[i] += got;
                pipelining[i]->received.clear();
                pipelining[i]->send(request + request + request + request);
            }
        }
    };
    // Each of them lives 0.3 s here, if the oldest go first, whichever worker has them.
    IdleChurn churn(server.port(), 40, 1s);
    ASSERT_TRUE(kxtest::spinUntil(
        [&] {
            churn.step();
            keepAsking();
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
                keepAsking();
                if (!asked && std::chrono::steady_clock::now() - connected >= 100ms)
                    asked = late.send(request);
                return asked && (!late.receiveAvailable() || !kxtest::answersIn(late.received).empty());
            },
            30s));
        EXPECT_EQ(kxtest::answersIn(late.received).size(), 1u) << round << ": " << late.received;
    }
    for (std::size_t count : answered)
        EXPECT_GT(count, 0u);
}

} // namespace
