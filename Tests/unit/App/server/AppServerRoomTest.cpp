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
        auto choice = room.choose(newcomer, now, look);
        if (!choice)
            return nullptr;
        room.forget(choice->key);
        return choice->key;
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
    // Its client leaves its answer untaken; another whose answer the server is slow to feed.
    auto stalled = r.connection(3, 50s);
    r.room.requestRead(stalled, now - 5s);
    r.seen[stalled].untaken = true;
    r.room.requestRead(r.connection(4, 50s), now - 5s);
    // Never asked, the older past its grace first; one just opened has its moment to ask.
    auto unaskedOld = r.connection(5, 60s);
    auto unaskedNew = r.connection(6, 70s);
    r.connection(7, now - 1ms);
    // The newest of all, but its client has gone.
    auto gone = r.connection(8, now - 1ms);
    r.seen[gone].gone = true;
    // A request sent on it that the server has not read yet.
    auto sent = r.connection(9, 5s);
    r.seen[sent].sent = true;
    auto newcomer = r.connection(10, now);

    EXPECT_TRUE(r.room.kept(idleOld));
    EXPECT_FALSE(r.room.kept(stalled));
    EXPECT_FALSE(r.room.kept(unaskedOld));
    for (Key expected : {gone, idleOld, idleNew, stalled, unaskedOld, unaskedNew})
        EXPECT_EQ(r.closeNext(newcomer, now), expected);
    EXPECT_EQ(r.closeNext(newcomer, now), nullptr);

    // The first bytes of its next request: libsoup no longer keeps it on its own, and its client
    // asks, but has sent nothing more for a while.
    auto asking = r.connection(11, 80s, {{81s, 82s}});
    r.room.requestStarted(asking);
    EXPECT_FALSE(r.room.kept(asking));
    EXPECT_EQ(r.room.choose(newcomer, now, r.look)->key, asking);
}

TEST(AppServerRoom, PastTheHardCapTheNewestUnaskedGoesAndAnAnswerEndsOnlyWhenAllHaveAsked)
{
    Room r;
    const AppServerRoom::Time now = 100s;
    r.connection(0, 10s);
    auto newest = r.connection(1, now - 50ms);
    auto young = r.connection(2, now - 1ms);
    r.seen[r.connection(3, now - 20ms)].sent = true;
    EXPECT_EQ(r.room.newestUnasked(now, r.look), newest);
    EXPECT_EQ(r.room.graceEnds(now), now - 1ms + AppServerRoom::askingGrace);
    r.room.requestRead(young, now);
    EXPECT_EQ(r.room.graceEnds(now), std::nullopt);

    // Of those that take their answers, the one open longest ends after its answer, once; one
    // open less than a while is left alone, as is the newcomer.
    Room asked;
    auto oldest = asked.connection(0, 10s, {{11s, 12s}});
    asked.room.requestRead(oldest, now - 1ms);
    auto between = asked.connection(1, 20s, {{now - 20ms, now - 10ms}});
    asked.room.requestRead(asked.connection(2, now - 500ms), now - 400ms);
    auto newcomer = asked.connection(3, 5s);
    asked.room.requestRead(newcomer, now);
    EXPECT_EQ(asked.room.newestUnasked(now, asked.look), std::nullopt);
    EXPECT_FALSE(asked.room.choose(newcomer, now, asked.look));
    EXPECT_EQ(asked.room.endOldestAnswer(newcomer, now, asked.look), oldest);
    EXPECT_TRUE(asked.room.endsAfterAnswer(oldest));
    EXPECT_EQ(asked.room.endOldestAnswer(newcomer, now, asked.look), between);
    EXPECT_EQ(asked.room.endOldestAnswer(newcomer, now, asked.look), std::nullopt);
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
