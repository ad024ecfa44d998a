#include "App/server/ServerController.h"

#include <algorithm>
#include <csignal>
#include <fstream>

#include <gtest/gtest.h>

#include "App/server/SocketIOClient.h"
#include "ProjectServerFixture.h"
#include "support/EngineIOPeer.h"
#include "support/HttpFetch.h"
#include "support/LogCapture.h"

namespace {

using namespace kx;
using namespace std::chrono_literals;

using ServerControllerTest = kxtest::ProjectServerTest;
using kxtest::Recorder;
using kxtest::processIsGone;
using kxtest::serverTimeout;

TEST_F(ServerControllerTest, StartsReportsStateAndStops)
{
    ServerController controller(configuration);
    Recorder states(ServerControllerStateDidUpdate, controller);
    Recorder logs(ServerControllerDidReceiveLog, controller);
    int crashes = 0;
    controller.crashHandler = [&](int) { ++crashes; };
    EXPECT_FALSE(controller.state());

    startAndConnect(controller);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !states.received.empty(); }, serverTimeout));
    const auto& state = *controller.state();
    EXPECT_FALSE(state.doneFirstInstall);
    EXPECT_EQ(state.builtInLibraryVersion, "2.3.4");
    EXPECT_EQ(state.currentLibraryVersion, "2.3.4");
    EXPECT_EQ(state.availableLibraryVersions, std::vector<std::string>{"2.3.4"});
    EXPECT_EQ(state.liveSharing.status, "available");
    EXPECT_FALSE(state.liveSharing.url);
    EXPECT_TRUE(kxtest::spinUntil([&] { return !logs.lines().empty(); }));

    // A second start is refused without disturbing the running server.
    std::optional<std::optional<std::string>> second;
    controller.start(token, [&](std::optional<std::string> u) { second = u; });
    ASSERT_TRUE(second.has_value());
    EXPECT_FALSE(second->has_value());
    EXPECT_TRUE(controller.isConnected());

    int pid = controller.processIdentifier();
    ASSERT_GT(pid, 0);
    size_t before = states.received.size();
    controller.stop();
    EXPECT_FALSE(controller.state());
    EXPECT_FALSE(controller.currentServerURL());
    EXPECT_FALSE(controller.isConnected());
    EXPECT_TRUE(kxtest::spinUntil([&] { return states.received.size() > before; }, serverTimeout));
    EXPECT_TRUE(kxtest::spinUntil([&] { return processIsGone(pid); }, serverTimeout));
    kxtest::spinFor(300ms);
    EXPECT_EQ(crashes, 0);
    controller.stop(); // nothing more to do
}

TEST_F(ServerControllerTest, SendsCommandsInOrderOnceConnected)
{
    ServerController controller(configuration);
    Recorder logs(ServerControllerDidReceiveLog, controller);
    auto project = folder / "project";

    // Queued before there is any socket: sent once it connects.
    controller.setProjectDir(project);
    controller.setDocumentDirty(true);
    startAndConnect(controller);
    controller.addPackage("left-pad", false);
    controller.addPackage("@types/node", true);
    controller.setDocumentDirty(false);
    controller.installKorvelLibrary("9.9.9");

    std::vector<std::string> expected{"setProjectDir " + project.string(), "setDocumentDirty true",
                                      "addPackage left-pad", "addPackage @types/node (dev)", "setDocumentDirty false"};
    ASSERT_TRUE(kxtest::spinUntil([&] { return logs.errors().size() == 1; }, serverTimeout));
    std::vector<std::string> commands;
    for (const auto& line : logs.lines())
        if (line.starts_with("set") || line.starts_with("add"))
            commands.push_back(line);
    EXPECT_EQ(commands, expected);

    auto error = logs.errors().front();
    EXPECT_EQ(error.type, "error");
    EXPECT_NE(error.data.find("9.9.9"), std::string::npos);
    EXPECT_FALSE(error.id.empty());

    ASSERT_TRUE(kxtest::spinUntil([&] { return controller.state() && controller.state()->doneFirstInstall; }, serverTimeout));
    std::ifstream manifestFile(project / "package.json");
    auto manifest = nlohmann::json::parse(manifestFile);
    EXPECT_EQ(manifest["dependencies"]["left-pad"], "*");
    EXPECT_EQ(manifest["devDependencies"]["@types/node"], "*");
    controller.stop();
}

TEST_F(ServerControllerTest, LiveSharingMovesThroughItsStates)
{
    ServerController controller(configuration);
    int crashes = 0;
    controller.crashHandler = [&](int) { ++crashes; };
    startAndConnect(controller);
    controller.installKorvelLibrary("2.3.4");
    controller.startLiveSharing();
    ASSERT_TRUE(kxtest::spinUntil([&] { return controller.state()->liveSharing.status == "active"; }, serverTimeout));
    ASSERT_TRUE(controller.state()->liveSharing.url);
    EXPECT_TRUE(controller.state()->liveSharing.url->starts_with("http://"));

    // The share port is open to the network: a request target no URL parser accepts is
    // answered, not fatal.
    const std::string& shareURL = *controller.state()->liveSharing.url;
    auto colon = shareURL.rfind(':');
    int sharePort = std::stoi(shareURL.substr(colon + 1));
    std::string path = shareURL.substr(shareURL.find('/', colon));
    for (const char* target : {"//[", "http://[::1/"}) {
        auto answer = kxtest::rawRequest(sharePort, std::string("GET ") + target +
                                                        " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 4")) << target << ": " << answer;
    }
    auto page = kxtest::rawRequest(sharePort, "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(page.starts_with("HTTP/1.1 200")) << page;
    EXPECT_EQ(crashes, 0);

    controller.stopLiveSharing();
    ASSERT_TRUE(kxtest::spinUntil([&] { return controller.state()->liveSharing.status == "available"; }, serverTimeout));
    EXPECT_FALSE(controller.state()->liveSharing.url);
    controller.stop();
}

TEST_F(ServerControllerTest, EnterpriseBuildsHaveNoLiveSharing)
{
    configuration.isEnterprise = true;
    ServerController controller(configuration);
    Recorder logs(ServerControllerDidReceiveLog, controller);
    startAndConnect(controller);
    EXPECT_EQ(controller.state()->liveSharing.status, "unavailable");
    controller.startLiveSharing();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !logs.errors().empty(); }, serverTimeout));
    EXPECT_EQ(controller.state()->liveSharing.status, "unavailable");
    controller.stop();
}

TEST_F(ServerControllerTest, PreviewDataAndReloadPostTheirNotifications)
{
    ServerController controller(configuration);
    Recorder previews(ServerControllerPreviewDataDidUpdate, controller);
    Recorder reloads(ServerControllerPreviewShouldReload, controller);
    startAndConnect(controller);
    EXPECT_FALSE(controller.previewData());

    // The editor page is another client of the same server.
    SocketIOClient editor(*controller.currentServerURL(), {{"token", token}});
    editor.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return editor.isConnected(); }, serverTimeout));
    editor.emit("updatePreview", nlohmann::json::array({R"({"selection":{"id":"A"}})"}));
    ASSERT_TRUE(kxtest::spinUntil([&] { return previews.received.size() == 1; }, serverTimeout));
    EXPECT_EQ(controller.previewData(), R"({"selection":{"id":"A"}})");
    EXPECT_EQ(previews.received[0].sender, &controller);

    editor.emit("reload");
    ASSERT_TRUE(kxtest::spinUntil([&] { return reloads.received.size() == 1; }, serverTimeout));
    EXPECT_EQ(reloads.received[0].sender, &controller);
    controller.stop();
}

TEST_F(ServerControllerTest, RecognisesItsOwnNotifications)
{
    ServerController controller(configuration);
    ServerController other(configuration);
    int stranger = 0;
    Notification mine{ServerControllerStateDidUpdate, &controller, nullptr};
    Notification theirs{ServerControllerStateDidUpdate, &other, nullptr};
    Notification foreign{ServerControllerStateDidUpdate, &stranger, nullptr};
    EXPECT_EQ(ServerController::sender(mine), &controller);
    EXPECT_EQ(ServerController::sender(theirs), &other);
    EXPECT_EQ(ServerController::sender(foreign), nullptr);
    EXPECT_TRUE(controller.isSender(mine));
    EXPECT_FALSE(controller.isSender(theirs));

    // A controller that is gone is no sender any more, even at the same address.
    Notification late{ServerControllerStateDidUpdate, nullptr, nullptr};
    {
        ServerController gone(configuration);
        late.sender = &gone;
        EXPECT_EQ(ServerController::sender(late), &gone);
    }
    EXPECT_EQ(ServerController::sender(late), nullptr);
}

TEST_F(ServerControllerTest, RefusesAClientWithTheWrongToken)
{
    ServerController controller(configuration);
    startAndConnect(controller);

    SocketIOClient intruder(*controller.currentServerURL(), {{"token", "not-the-token"}});
    std::optional<std::string> refusal;
    intruder.onConnectError = [&](const std::string& message) { refusal = message; };
    intruder.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return refusal.has_value(); }, serverTimeout));
    EXPECT_EQ(*refusal, "unauthorized");
    EXPECT_FALSE(intruder.isConnected());
    controller.stop();
}

TEST_F(ServerControllerTest, AKilledServerCallsTheCrashHandler)
{
    ServerController controller(configuration);
    Recorder states(ServerControllerStateDidUpdate, controller);
    std::optional<int> exitCode;
    controller.crashHandler = [&](int code) { exitCode = code; };
    startAndConnect(controller);

    ::kill(controller.processIdentifier(), SIGKILL);
    ASSERT_TRUE(kxtest::spinUntil([&] { return exitCode.has_value(); }, serverTimeout));
    EXPECT_EQ(*exitCode, SIGKILL);
    EXPECT_FALSE(controller.state());
    EXPECT_FALSE(controller.currentServerURL());
    EXPECT_FALSE(controller.isConnected());
    controller.stop(); // no longer running: nothing happens
}

TEST_F(ServerControllerTest, StoppingBeforeTheServerIsUpEndsTheStart)
{
    ServerController controller(configuration);
    bool crashed = false;
    controller.crashHandler = [&](int) { crashed = true; };
    std::optional<std::optional<std::string>> url;
    controller.start(token, [&](std::optional<std::string> u) { url = u; });
    int pid = controller.processIdentifier();
    controller.stop();
    ASSERT_TRUE(url.has_value());
    EXPECT_FALSE(url->has_value());
    EXPECT_TRUE(kxtest::spinUntil([&] { return processIsGone(pid); }, serverTimeout));
    kxtest::spinFor(300ms);
    EXPECT_FALSE(crashed);
    EXPECT_FALSE(controller.currentServerURL());
}

TEST_F(ServerControllerTest, StartFailsWithoutTheProgram)
{
    configuration.nodePath = (folder / "no-such-node").string();
    ServerController controller(configuration);
    bool crashed = false;
    controller.crashHandler = [&](int) { crashed = true; };
    std::optional<std::optional<std::string>> url;
    controller.start(token, [&](std::optional<std::string> u) { url = u; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return url.has_value(); }, serverTimeout));
    EXPECT_FALSE(url->has_value());
    EXPECT_FALSE(crashed);
}

TEST_F(ServerControllerTest, ACommandAfterTheControllerIsGoneSendsNothing)
{
    KX_REQUIRE_PROJECT_SERVER();
    // The socket.io side is a peer that outlives the controller and answers the connect late;
    // the "server program" only announces the peer's address and waits for its input to close.
    kxtest::EngineIOPeer peer(nlohmann::json{{"connectDelay", 400}});
    auto script = folder / "announce.sh";
    std::ofstream(script) << "echo '{\"url\": \"" << peer.url() << "\"}'\nexec cat >/dev/null\n";
    configuration.nodePath = "/bin/sh";
    configuration.scriptPath = script;
    auto connectRequests = [&] {
        return std::count_if(peer.received.begin(), peer.received.end(),
                             [](const std::string& frame) { return frame.starts_with("40"); });
    };
    auto sent = [&](const std::string& event) {
        return std::any_of(peer.received.begin(), peer.received.end(), [&](const std::string& frame) {
            return frame.find("\"" + event + "\"") != std::string::npos;
        });
    };

    // With the controller alive, a command queued while the connect is held back goes out once
    // it completes, after the controller has joined its room.
    {
        ServerController controller(configuration);
        controller.start(token, nullptr);
        ASSERT_TRUE(kxtest::spinUntil([&] { return connectRequests() > 0; }, serverTimeout));
        ASSERT_FALSE(controller.isConnected());
        controller.setDocumentDirty(true);
        ASSERT_TRUE(kxtest::spinUntil([&] { return sent("setDocumentDirty"); }, serverTimeout));
        std::vector<std::string> events(peer.received.end() - 2, peer.received.end());
        EXPECT_EQ(events, (std::vector<std::string>{R"(42["joinRoom","preview"])", R"(42["setDocumentDirty",true])"}));
        controller.stop();
    }

    // Queued while the connect is held back, then the controller goes: nothing is sent.
    auto before = connectRequests();
    {
        ServerController controller(configuration);
        std::optional<std::optional<std::string>> url;
        controller.start(token, [&](std::optional<std::string> u) { url = u; });
        ASSERT_TRUE(kxtest::spinUntil([&] { return connectRequests() > before; }, serverTimeout));
        ASSERT_FALSE(controller.isConnected());
        controller.startLiveSharing();
    }
    kxtest::spinFor(800ms); // past the peer's late answer
    EXPECT_FALSE(sent("startLiveSharing"));
}

TEST_F(ServerControllerTest, TokensNeverReachTheLogOrTheProcessListing)
{
    kxtest::LogCapture log;
    auto read = [](const std::string& file) {
        std::ifstream stream(file);
        return std::string((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    };
    {
        ServerController controller(configuration);
        controller.start(token, nullptr);
        // What `ps` shows every user of the machine, from the start; the token travels in the
        // environment, which only our user can read.
        std::string proc = "/proc/" + std::to_string(controller.processIdentifier());
        std::string listing = read(proc + "/cmdline");
        EXPECT_NE(listing.find("--token"), std::string::npos) << listing;
        EXPECT_EQ(listing.find(configuration.apiToken), std::string::npos) << listing;
        EXPECT_NE(read(proc + "/environ").find("KORVEL_API_TOKEN=" + configuration.apiToken), std::string::npos);
        ASSERT_TRUE(kxtest::spinUntil([&] { return controller.isConnected(); }, serverTimeout));
        controller.stop();
    }
    const auto messages = log.lines();
    ASSERT_FALSE(messages.empty());
    bool sawCommandLine = false;
    for (const auto& message : messages) {
        EXPECT_EQ(message.find(token), std::string::npos) << message;
        EXPECT_EQ(message.find(configuration.apiToken), std::string::npos) << message;
        sawCommandLine |= message.starts_with("Starting project server: ");
    }
    EXPECT_TRUE(sawCommandLine);
}

} // namespace
