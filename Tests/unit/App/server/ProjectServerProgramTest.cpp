// The project server program of Resources/server as other local clients meet it: what it relays,
// what it serves, and that no frame ends it.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "App/server/SocketIOClient.h"
#include "ProjectServerFixture.h"
#include "support/HttpFetch.h"
#include "support/PathSwapper.h"

namespace {

using namespace kx;
using kxtest::Recorder;
using kxtest::serverTimeout;
using ProjectServerProgramTest = kxtest::ProjectServerTest;

// An array nested `depth` deep around a string.
nlohmann::json nested(int depth)
{
    nlohmann::json value = "deep";
    for (int i = 0; i < depth; ++i) {
        nlohmann::json outer = nlohmann::json::array();
        outer.push_back(std::move(value));
        value = std::move(outer);
    }
    return value;
}

std::string get(int port, const std::string& path)
{
    return kxtest::rawRequest(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

TEST_F(ProjectServerProgramTest, RelaysOnlySelectionTextToThePreviewRoomAndSurvivesAnyFrame)
{
    ServerController controller(configuration);
    Recorder previews(ServerControllerPreviewDataDidUpdate, controller);
    Recorder logs(ServerControllerDidReceiveLog, controller);
    int crashes = 0;
    controller.crashHandler = [&](int) { ++crashes; };
    startAndConnect(controller);

    // The editor page and a client that joined no room.
    SocketIOClient editor(*controller.currentServerURL(), {{"token", token}});
    SocketIOClient bystander(*controller.currentServerURL(), {{"token", token}});
    std::vector<std::string> bystanderEvents;
    bystander.onEvent = [&](const std::string& name, const nlohmann::json&) { bystanderEvents.push_back(name); };
    editor.connect();
    bystander.connect();
    ASSERT_TRUE(kxtest::spinUntil([&] { return editor.isConnected() && bystander.isConnected(); }, serverTimeout));

    // Each of these is refused with an error record, and the server lives on.
    const std::vector<std::pair<std::string, nlohmann::json>> hostile{
        {"updatePreview", nlohmann::json::array({nested(5000)})},
        {"updatePreview", nlohmann::json::array({{{"selection", nested(5000)}}})},
        {"updatePreview", nlohmann::json::array({42})},
        {"updatePreview", nlohmann::json::array()},
        {"joinRoom", nlohmann::json::array({"editors"})},
        {"joinRoom", nlohmann::json::array({nested(5000)})},
        {"addPackage", nlohmann::json::array({nested(5000)})},
    };
    for (const auto& [name, arguments] : hostile)
        ASSERT_TRUE(editor.emit(name, arguments)) << name;
    ASSERT_TRUE(kxtest::spinUntil([&] { return logs.errors().size() == hostile.size(); }, serverTimeout));

    editor.emit("updatePreview", nlohmann::json::array({R"({"selection":{"id":"B"}})"}));
    ASSERT_TRUE(kxtest::spinUntil([&] { return !previews.received.empty(); }, serverTimeout));
    EXPECT_EQ(previews.received.size(), 1u);
    EXPECT_EQ(controller.previewData(), R"({"selection":{"id":"B"}})");
    EXPECT_TRUE(controller.isConnected());
    EXPECT_TRUE(editor.isConnected());
    EXPECT_EQ(crashes, 0);
    EXPECT_EQ(std::count(bystanderEvents.begin(), bystanderEvents.end(), "updatePreview"), 0);
    controller.stop();
}

TEST_F(ProjectServerProgramTest, ServesOnlyRegularFilesThatAreReallyInsideTheFolder)
{
    auto project = folder / "project";
    std::ofstream(project / "page.html") << "inside";
    std::ofstream(folder / "secret.txt") << "outside";
    std::filesystem::create_directories(project / "sub");
    std::ofstream(project / "sub" / "index.html") << "index";
    std::filesystem::create_symlink(folder / "secret.txt", project / "link.txt");
    std::filesystem::create_symlink(folder.path(), project / "up");
    // The resources folder is the whole test folder here: its link leads out of that.
    kxtest::TemporaryDirectory elsewhere;
    std::ofstream(elsewhere / "secret.txt") << "outside";
    std::filesystem::create_symlink(elsewhere / "secret.txt", folder / "library" / "link.txt");
    ASSERT_EQ(::mkfifo((project / "fifo").c_str(), 0600), 0);

    ServerController controller(configuration);
    Recorder logs(ServerControllerDidReceiveLog, controller);
    controller.setProjectDir(project);
    startAndConnect(controller);
    ASSERT_TRUE(kxtest::spinUntil([&] { return controller.state()->doneFirstInstall; }, serverTimeout));
    int port = portOf(controller);

    EXPECT_TRUE(get(port, "/page.html").ends_with("inside"));
    EXPECT_TRUE(get(port, "/sub/").ends_with("index"));
    // The image cache links to the project's own images by absolute path: served.
    std::filesystem::create_directories(project / ".cache" / "images" / "512");
    std::filesystem::create_symlink(project / "page.html", project / ".cache" / "images" / "512" / "page.html");
    EXPECT_TRUE(get(port, "/.cache/images/512/page.html").ends_with("inside"));
    EXPECT_TRUE(get(port, "/_app/resources/Nimbet/preview.html").starts_with("HTTP/1.1 200"));
    // A link at the last step, a folder link on the way out, a link in the resources folder,
    // and a FIFO (which would block a reader until someone writes to it).
    for (const char* path : {"/link.txt", "/up/secret.txt", "/_app/resources/library/link.txt", "/fifo"}) {
        auto answer = get(port, path);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 403")) << path << ": " << answer;
        EXPECT_EQ(answer.find("outside"), std::string::npos) << path;
    }

    // A file swapped for a link to the outside while requests come in is never served.
    std::ofstream(project / "swapped.txt") << "inside";
    std::filesystem::create_symlink(folder / "secret.txt", project / "other.txt");
    int leaks = 0, served = 0;
    {
        kxtest::PathSwapper swapper(project / "swapped.txt", project / "other.txt");
        for (int i = 0; i < 300; ++i) {
            auto answer = get(port, "/swapped.txt");
            leaks += answer.find("outside") != std::string::npos;
            served += answer.ends_with("inside");
        }
    }
    EXPECT_GT(served, 0);
    EXPECT_EQ(leaks, 0);

    // The project's first install was made in its folder; a folder named next (where it moved,
    // or one put at its old path meanwhile) gets no package.json of the server's.
    EXPECT_TRUE(std::filesystem::exists(project / "package.json"));
    const auto next = folder / "next";
    std::filesystem::create_directories(next);
    controller.setProjectDir(next);
    ASSERT_TRUE(kxtest::spinUntil([&] {
        const auto lines = logs.lines();
        return std::find(lines.begin(), lines.end(), "setProjectDir " + next.string()) != lines.end();
    }, serverTimeout));
    EXPECT_FALSE(std::filesystem::exists(next / "package.json"));
    EXPECT_TRUE(logs.errors().empty());
    controller.stop();
}

} // namespace
