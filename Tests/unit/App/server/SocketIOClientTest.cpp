#include "App/server/SocketIOClient.h"

#include <gtest/gtest.h>

#include "support/EngineIOPeer.h"
#include "support/ProjectServerSetup.h"
#include "support/Spin.h"

namespace {

using kx::SocketIOClient;
using namespace std::chrono_literals;

using FakeServer = kxtest::EngineIOPeer;

struct Observed {
    int connects = 0;
    std::vector<std::pair<std::string, nlohmann::json>> events;
    std::vector<std::string> disconnects;
};

void observe(SocketIOClient& client, Observed& observed)
{
    client.onConnect = [&] { ++observed.connects; };
    client.onEvent = [&](const std::string& name, const nlohmann::json& arguments) {
        observed.events.emplace_back(name, arguments);
    };
    client.onDisconnect = [&](const std::string& reason) { observed.disconnects.push_back(reason); };
}

TEST(SocketIOClient, ConnectsWithAuthAndAnswersPings)
{
    KX_REQUIRE_PROJECT_SERVER();
    FakeServer server(nlohmann::json{{"afterConnect", {R"(42["state",{"a":1}])", R"(427["reload"])", "2"}}});
    SocketIOClient client(server.url(), {{"token", "T"}});
    Observed observed;
    observe(client, observed);
    client.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return observed.events.size() == 2; }));
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(observed.connects, 1);
    // The peer's report of what it received comes over its standard output, which may lag.
    ASSERT_TRUE(kxtest::spinUntil([&] { return !server.received.empty(); }));
    EXPECT_EQ(server.received[0], R"(40{"token":"T"})");
    EXPECT_EQ(observed.events[0].first, "state");
    EXPECT_EQ(observed.events[0].second, nlohmann::json::parse(R"([{"a":1}])"));
    // An event that asks for an acknowledgement gets one.
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.received.size() >= 2; }));
    EXPECT_EQ(server.received[1], "437[]");

    ASSERT_TRUE(kxtest::spinUntil([&] { return server.received.size() >= 3; }));
    EXPECT_EQ(server.received[2], "3");

    EXPECT_TRUE(client.emit("setDocumentDirty", nlohmann::json::array({true})));
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.received.size() >= 4; }));
    EXPECT_EQ(server.received[3], R"(42["setDocumentDirty",true])");

    client.disconnect();
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.emit("late"));
    EXPECT_TRUE(observed.disconnects.empty());
}

TEST(SocketIOClient, AMalformedFrameClosesTheConnection)
{
    KX_REQUIRE_PROJECT_SERVER();
    const std::vector<std::string> badFrames = {"4not a packet", R"(42[1,2])", "9", R"(42["a")", R"(0{"sid":"again"})"};
    for (const auto& bad : badFrames) {
        FakeServer server(nlohmann::json{{"afterConnect", {R"(42["before"])", bad, R"(42["after"])"}}});
        SocketIOClient client(server.url(), {{"token", "T"}});
        client.reconnects = false;
        Observed observed;
        observe(client, observed);
        client.connect();
        ASSERT_TRUE(kxtest::spinUntil([&] { return !observed.disconnects.empty(); })) << bad;
        EXPECT_NE(observed.disconnects[0].find("malformed frame"), std::string::npos) << observed.disconnects[0];
        EXPECT_FALSE(client.isConnected());
        ASSERT_EQ(observed.events.size(), 1u) << bad;
        EXPECT_EQ(observed.events[0].first, "before");
        kxtest::spinFor(50ms); // nothing after the bad frame arrives
        EXPECT_EQ(observed.events.size(), 1u) << bad;
    }
}

TEST(SocketIOClient, ReconnectsAfterALostConnection)
{
    KX_REQUIRE_PROJECT_SERVER();
    FakeServer server(nlohmann::json{{"binary", true}});
    SocketIOClient client(server.url(), {{"token", "T"}});
    client.reconnectDelay = 20ms;
    Observed observed;
    observe(client, observed);
    client.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return server.connections >= 2 && observed.connects >= 2; }));
    EXPECT_NE(observed.disconnects.at(0).find("binary"), std::string::npos);
    client.disconnect();
    int connections = server.connections;
    kxtest::spinFor(100ms);
    EXPECT_EQ(server.connections, connections);
}

TEST(SocketIOClient, IsNoLongerConnectedOnceTheServerStartsClosing)
{
    KX_REQUIRE_PROJECT_SERVER();
    FakeServer server(nlohmann::json{{"closeFrame", true}});
    SocketIOClient client(server.url(), {{"token", "T"}});
    client.reconnects = false;
    Observed observed;
    observe(client, observed);
    client.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return observed.connects == 1; }));
    // Until the transport has closed, whatever is emitted would be dropped: say so.
    ASSERT_TRUE(kxtest::spinUntil([&] { return !client.isConnected(); }, 2s));
    EXPECT_TRUE(observed.disconnects.empty());
    EXPECT_FALSE(client.emit("setDocumentDirty", nlohmann::json::array({true})));
}

TEST(SocketIOClient, GivesUpOnASilentServer)
{
    KX_REQUIRE_PROJECT_SERVER();
    FakeServer server(nlohmann::json{{"handshake", R"({"sid":"s","pingInterval":50,"pingTimeout":50})"}});
    SocketIOClient client(server.url(), {{"token", "T"}});
    client.reconnects = false;
    Observed observed;
    observe(client, observed);
    client.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !observed.disconnects.empty(); }));
    EXPECT_EQ(observed.disconnects[0], "ping timeout");
    EXPECT_EQ(observed.connects, 1);
}

TEST(SocketIOClient, ReportsAServerThatIsNotThere)
{
    SocketIOClient client("http://127.0.0.1:1/", {{"token", "T"}});
    client.reconnects = false;
    Observed observed;
    observe(client, observed);
    client.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !observed.disconnects.empty(); }));
    EXPECT_NE(observed.disconnects[0].find("cannot connect"), std::string::npos);

    SocketIOClient invalid("not a url", {});
    Observed none;
    observe(invalid, none);
    invalid.connect();
    ASSERT_EQ(none.disconnects.size(), 1u);
}

} // namespace
