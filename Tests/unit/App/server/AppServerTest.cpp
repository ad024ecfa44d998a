#include "App/server/AppServer.h"

#include <fstream>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "support/HttpFetch.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

using kx::AppServer;

// A listening socket on an ephemeral loopback port, held for the test's lifetime.
struct TakenPort {
    GSocket* socket = nullptr;
    int port = 0;
    TakenPort()
    {
        socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr);
        GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        g_socket_bind(socket, address, FALSE, nullptr);
        g_socket_listen(socket, nullptr);
        g_object_unref(address);
        g_object_unref(loopback);
        GSocketAddress* local = g_socket_get_local_address(socket, nullptr);
        port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
        g_object_unref(local);
    }
    ~TakenPort() { g_object_unref(socket); }
};

class AppServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(folder / "editor" / "assets");
        std::ofstream(folder / "editor" / "index.html") << "<html>editor</html>";
        std::ofstream(folder / "editor" / "assets" / "app.js") << "0123456789abcdefghij";
        std::ofstream(folder / "secret.txt") << "outside";
        std::filesystem::create_symlink(folder / "secret.txt", folder / "editor" / "link.txt");
        server = std::make_unique<AppServer>(folder / "editor");
        ASSERT_TRUE(server->listen(taken.port, taken.port + 40).isSuccess());
    }

    std::string url(const std::string& path) const { return server->url() + path; }

    kxtest::TemporaryDirectory folder;
    TakenPort taken;
    std::unique_ptr<AppServer> server;
};

TEST_F(AppServerTest, SkipsTakenPortsAndServesFiles)
{
    EXPECT_GT(server->port(), taken.port);

    auto index = kxtest::fetch(url(""));
    EXPECT_EQ(index.status, 200u);
    EXPECT_EQ(index.body, "<html>editor</html>");
    EXPECT_NE(index.headers["Content-Type"].find("text/html"), std::string::npos);
    EXPECT_EQ(index.headers["Cache-Control"], "no-cache");

    auto hashed = kxtest::fetch(url("assets/app.js?hash=abc123"));
    EXPECT_EQ(hashed.status, 200u);
    EXPECT_EQ(hashed.headers["Cache-Control"], "max-age=604800");

    EXPECT_EQ(kxtest::fetch(url("missing.js")).status, 404u);

    // A second server over the same range takes the next free port.
    AppServer second(folder / "editor");
    ASSERT_TRUE(second.listen(taken.port, taken.port + 40).isSuccess());
    EXPECT_GT(second.port(), server->port());
}

TEST_F(AppServerTest, AnswersByteRanges)
{
    auto part = kxtest::fetch(url("assets/app.js"), "GET", {{"Range", "bytes=2-5"}});
    EXPECT_EQ(part.status, 206u);
    EXPECT_EQ(part.body, "2345");
    EXPECT_EQ(part.headers["Content-Range"], "bytes 2-5/20");

    auto tail = kxtest::fetch(url("assets/app.js"), "GET", {{"Range", "bytes=-3"}});
    EXPECT_EQ(tail.status, 206u);
    EXPECT_EQ(tail.body, "hij");

    auto unsatisfiable = kxtest::fetch(url("assets/app.js"), "GET", {{"Range", "bytes=50-60"}});
    EXPECT_EQ(unsatisfiable.status, 416u);
}

TEST_F(AppServerTest, RefusesOtherMethodsAndPathsOutsideTheFolder)
{
    EXPECT_EQ(kxtest::fetch(url("index.html"), "POST").status, 405u);
    EXPECT_EQ(kxtest::fetch(url("index.html"), "DELETE").status, 405u);

    for (const char* path : {"/../secret.txt", "/assets/../../secret.txt", "/%2E%2E/secret.txt",
                             "/assets/..%2F..%2Fsecret.txt", "/link.txt", "/%00"}) {
        auto answer = kxtest::rawRequest(server->port(), std::string("GET ") + path +
                                                     " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 4")) << path << ": " << answer;
        EXPECT_EQ(answer.find("outside"), std::string::npos) << path;
    }
    EXPECT_EQ(kxtest::fetch(url("link.txt")).status, 403u);

    // A folder's index page that links outside is refused like any other link.
    std::filesystem::create_directories(folder / "editor" / "linked");
    std::filesystem::create_symlink(folder / "secret.txt", folder / "editor" / "linked" / "index.html");
    auto index = kxtest::fetch(url("linked/"));
    EXPECT_EQ(index.status, 403u);
    EXPECT_EQ(index.body.find("outside"), std::string::npos);
}

TEST(AppServerRange, FailsWhenEveryPortIsTaken)
{
    TakenPort taken;
    AppServer server(kxtest::testSourceDir());
    auto result = server.listen(taken.port, taken.port);
    ASSERT_TRUE(result.isFailure());
    EXPECT_EQ(server.port(), 0);
}

TEST(AppServerShared, StartsOnceAndSaysSo)
{
    kxtest::TemporaryDirectory folder;
    std::filesystem::create_directories(folder / "Nimbet");
    std::ofstream(folder / "Nimbet" / "index.html") << "editor";
    kx::AppInfo::setCurrent(std::make_shared<kx::AppInfo>(
        kx::Bundle(folder.path(), {{"CFBundleIdentifier", "com.korvel.x"}, {"CFBundleName", "Korvel X"}}), "KorvelX",
        std::nullopt, folder / "Nimbet"));
    std::vector<std::string> messages;
    kx::RKLogSetWriterForTesting([&](GLogLevelFlags, std::span<const GLogField> fields) {
        for (const GLogField& field : fields)
            if (std::string_view(field.key) == "MESSAGE")
                messages.emplace_back(static_cast<const char*>(field.value));
    });

    EXPECT_EQ(AppServer::shared(), nullptr);
    AppServer::start();
    ASSERT_NE(AppServer::shared(), nullptr);
    auto* first = AppServer::shared();
    EXPECT_GE(first->port(), AppServer::firstPort);
    EXPECT_LE(first->port(), AppServer::lastPort);
    EXPECT_EQ(kxtest::fetch(first->url()).body, "editor");

    AppServer::start();
    EXPECT_EQ(AppServer::shared(), first);
    kx::RKLogSetWriterForTesting(nullptr);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "App Server already started");
}

} // namespace
