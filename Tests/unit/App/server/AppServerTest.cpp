#include "App/server/AppServer.h"
#include "App/server/AppServerRoom.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <thread>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "AppServerClient.h"
#include "App/shell/AppInfo.h"
#include "support/ChildProcess.h"
#include "support/HttpFetch.h"
#include "support/LogCapture.h"
#include "support/PathSwapper.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

using kx::AppServer;
using kxtest::blockingGet;
using kxtest::bodyOf;
using kxtest::headerOf;

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
    std::string get(const std::string& path, const std::string& headers = {}) const
    {
        return blockingGet(server->port(), path, headers);
    }

    kxtest::TemporaryDirectory folder;
    kxtest::TakenPort taken;
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
    // An item named "hash" counts with or without a value.
    EXPECT_EQ(headerOf(get("/assets/app.js?v=2&hash"), "Cache-Control"), "max-age=604800");
    EXPECT_EQ(headerOf(get("/assets/app.js?hashes=1&xhash=2"), "Cache-Control"), "no-cache");

    EXPECT_EQ(kxtest::fetch(url("missing.js")).status, 404u);

    // A second server over the same range takes the next free port.
    AppServer second(folder / "editor");
    ASSERT_TRUE(second.listen(taken.port, taken.port + 40).isSuccess());
    EXPECT_GT(second.port(), server->port());
}

TEST_F(AppServerTest, AnswersWithoutTheMainLoop)
{
    // Requests are served on the server's own threads: this thread never turns its loop.
    auto answer = get("/assets/app.js");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
    EXPECT_EQ(bodyOf(answer), "0123456789abcdefghij");
}

TEST_F(AppServerTest, NamesTypesAndRedirectsFoldersToTheirSlash)
{
    std::ofstream(folder / "editor" / "assets" / "engine.wasm") << "\0asm";
    EXPECT_EQ(headerOf(get("/assets/engine.wasm"), "Content-Type"), "application/wasm");

    auto redirect = get("/assets?hash=1");
    EXPECT_TRUE(redirect.starts_with("HTTP/1.1 301")) << redirect;
    EXPECT_EQ(headerOf(redirect, "Location"), "/assets/?hash=1");
    std::filesystem::create_directories(folder / "editor" / "a b");
    std::ofstream(folder / "editor" / "a b" / "index.html") << "spaced";
    EXPECT_EQ(headerOf(get("/a%20b"), "Location"), "/a%20b/");
    EXPECT_EQ(bodyOf(get("/a%20b/")), "spaced");
    // Never "//assets/", which a browser takes for the host "assets".
    for (const char* path : {"//assets", "/%2fassets", "/.//assets"})
        EXPECT_EQ(headerOf(get(path), "Location"), "/assets/") << path;
}

TEST_F(AppServerTest, DecodesThePathOnce)
{
    std::ofstream(folder / "editor" / "a b.txt") << "space";
    std::ofstream(folder / "editor" / "a%20b.txt") << "percent";
    EXPECT_EQ(bodyOf(get("/a%20b.txt")), "space");
    EXPECT_EQ(bodyOf(get("/a%2520b.txt")), "percent");
}

TEST_F(AppServerTest, AnswersConditionalRequests)
{
    auto first = get("/assets/app.js");
    std::string etag = headerOf(first, "ETag");
    std::string modified = headerOf(first, "Last-Modified");
    ASSERT_FALSE(etag.empty());
    ASSERT_FALSE(modified.empty());

    for (const std::string& condition : std::vector<std::string>{"If-None-Match: " + etag, "If-None-Match: \"x\", W/" + etag,
                                         "If-None-Match: *", "If-Modified-Since: " + modified}) {
        auto answer = get("/assets/app.js", condition + "\r\n");
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 304")) << condition << ": " << answer;
        EXPECT_EQ(bodyOf(answer), "") << condition;
        // What a 200 would say, never "0": a client may take it for the file's length.
        EXPECT_EQ(headerOf(answer, "Content-Length"), "20") << condition;
        EXPECT_EQ(headerOf(answer, "ETag"), etag);
    }
    // If-None-Match decides when both are present.
    EXPECT_TRUE(get("/assets/app.js", "If-None-Match: \"other\"\r\nIf-Modified-Since: " + modified + "\r\n")
                    .starts_with("HTTP/1.1 200"));
    EXPECT_TRUE(get("/assets/app.js", "If-Modified-Since: Thu, 01 Jan 1970 00:00:01 GMT\r\n").starts_with("HTTP/1.1 200"));
    EXPECT_TRUE(get("/assets/app.js", "If-Modified-Since: yesterday\r\n").starts_with("HTTP/1.1 200"));

    // A changed file has another tag.
    std::ofstream(folder / "editor" / "assets" / "app.js") << "changed contents";
    auto changed = get("/assets/app.js", "If-None-Match: " + etag + "\r\n");
    EXPECT_TRUE(changed.starts_with("HTTP/1.1 200")) << changed;
    EXPECT_EQ(bodyOf(changed), "changed contents");
}

TEST_F(AppServerTest, KeepsAConnectionForMoreRequestsAndAnswersThoseSentAhead)
{
    const std::string request = "GET /assets/app.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    kxtest::BlockingClient client(server->port());
    for (std::size_t count = 1; count <= 2; ++count) {
        ASSERT_TRUE(client.send(request));
        client.receiveAnswers(count);
        auto answers = kxtest::answersIn(client.received);
        ASSERT_EQ(answers.size(), count) << client.received;
        EXPECT_EQ(bodyOf(answers.back()), "0123456789abcdefghij");
        EXPECT_EQ(headerOf(answers.back(), "Connection"), "");
    }

    // Sent at once, answered in turn: a 304 with no body after it, then two files.
    std::string etag = headerOf(get("/assets/app.js"), "ETag");
    kxtest::BlockingClient ahead(server->port());
    ahead.send("GET /assets/app.js HTTP/1.1\r\nHost: 127.0.0.1\r\nIf-None-Match: " + etag + "\r\n\r\n" +
               "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" + request);
    ahead.receiveAnswers(3);
    auto answers = kxtest::answersIn(ahead.received);
    ASSERT_EQ(answers.size(), 3u) << ahead.received;
    EXPECT_TRUE(answers[0].starts_with("HTTP/1.1 304")) << answers[0];
    EXPECT_EQ(bodyOf(answers[1]), "<html>editor</html>");
    EXPECT_EQ(bodyOf(answers[2]), "0123456789abcdefghij");

    // Two more, and the client's side closed after them: both answered, then the end.
    kxtest::BlockingClient halfClosed(server->port());
    halfClosed.send(request + request);
    halfClosed.closeSending();
    halfClosed.receive();
    EXPECT_EQ(kxtest::answersIn(halfClosed.received).size(), 2u) << halfClosed.received;
    EXPECT_TRUE(halfClosed.closed);
}

TEST_F(AppServerTest, AnswersABodyOrAnotherMethodAtItsHeadAndReadsNoHugeRequestLine)
{
    using namespace std::chrono_literals;
    // A body it would not use, sent without end, and a method it does not answer: each is told so
    // at its head and its connection ends, the body not read on; the others are answered as ever.
    const std::string bodies[] = {"GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n",
                                  "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000000000\r\n\r\n",
                                  "POST /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n"};
    for (const std::string& head : bodies) {
        kxtest::BlockingClient client(server->port());
        client.send(head);
        const std::string chunk = "4000\r\n" + std::string(0x4000, 'x') + "\r\n";
        // Sent on until the server has answered: it keeps reading past nothing for long.
        ASSERT_TRUE(kxtest::spinUntil([&] {
            client.send(chunk);
            return !client.receiveAvailable() || client.received.find("\r\n\r\n") != std::string::npos;
        }, 10s));
        const bool post = head.starts_with("POST");
        EXPECT_TRUE(client.received.starts_with(post ? "HTTP/1.1 405" : "HTTP/1.1 413")) << client.received.substr(0, 200);
        EXPECT_NE(client.received.find("Connection: close"), std::string::npos) << client.received.substr(0, 200);
        EXPECT_TRUE(kxtest::spinUntil([&] {
            client.send(chunk);
            return !client.receiveAvailable();
        }, 10s));
        EXPECT_EQ(bodyOf(get("/assets/app.js")), "0123456789abcdefghij");
    }
    // A request without a body is answered as ever, also with one of length 0.
    kxtest::BlockingClient plain(server->port());
    plain.send("GET /assets/app.js HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
    plain.receiveAnswers(1);
    EXPECT_EQ(bodyOf(plain.received), "0123456789abcdefghij");

    // Refused without being read whole, and the server goes on.
    kxtest::BlockingClient huge(server->port());
    huge.send("GET /" + std::string(16u << 20, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    huge.receive();
    EXPECT_TRUE(huge.closed);
    EXPECT_FALSE(huge.received.starts_with("HTTP/1.1 2")) << huge.received.substr(0, 200);
    EXPECT_EQ(bodyOf(get("/assets/app.js")), "0123456789abcdefghij");
}

TEST_F(AppServerTest, EndsIdleDribblingAndStalledConnectionsAndHoldsBackThoseOverItsLimit)
{
    using namespace std::chrono_literals;
    std::ofstream(folder / "editor" / "large.bin", std::ios::binary) << std::string(1u << 20, 'x');
    AppServer limited(folder / "editor", 2, {2, 1s, 1s});
    ASSERT_TRUE(limited.listen(taken.port, taken.port + 40).isSuccess());
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    {
        // Two connections that never ask fill it: a third is answered, and one of them is ended
        // once it has had a moment to ask.
        kxtest::BlockingClient first(limited.port()), second(limited.port()), third(limited.port());
        third.send(request);
        third.receiveAnswers(1);
        EXPECT_EQ(kxtest::answersIn(third.received).size(), 1u) << third.received;
        EXPECT_TRUE(kxtest::spinUntil([&] { return !(first.isOpen() && second.isOpen()); }, 10s));
    }

    // Idle after its answer, or sending its request a byte at a time: ended all the same.
    kxtest::BlockingClient idle(limited.port()), dribbling(limited.port());
    idle.send(request);
    const std::string slow = "GET /" + std::string(500, 'a') + " HTTP/1.1\r\n";
    std::size_t sent = 0;
    auto lastSent = std::chrono::steady_clock::now() - 1s;
    EXPECT_TRUE(kxtest::spinUntil(
        [&] {
            if (sent < slow.size() && std::chrono::steady_clock::now() - lastSent >= 50ms) {
                dribbling.send(slow.substr(sent++, 1));
                lastSent = std::chrono::steady_clock::now();
            }
            return !idle.isOpen() && !dribbling.isOpen();
        },
        20s));
    EXPECT_LT(sent, slow.size());
    idle.receive();
    EXPECT_EQ(kxtest::answersIn(idle.received).size(), 1u) << idle.received;

    // Requests sent ahead whose answers are never taken.
    kxtest::BlockingClient stalled(limited.port());
    std::string ahead;
    for (int i = 0; i < 1000; ++i)
        ahead += "GET /large.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    stalled.send(ahead);
    EXPECT_TRUE(kxtest::spinUntil([&] { return !stalled.isOpen(); }, 20s));
}

TEST_F(AppServerTest, LetsGoOfConnectionsThatOthersTakeOverOrThatKeepARetiredServerButNeverCutsAnAnswer)
{
    using namespace std::chrono_literals;
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    // Answered, reset, and opened again at once from the same port: the connection it replaces
    // is closed all the same.
    get("/index.html"); // the server's workers are all there once it answers
    int before = kxtest::openSockets();
    for (int round = 0, port = 0; round < 50; ++round) {
        kxtest::BlockingClient client(server->port(), port);
        port = client.localPort();
        client.send(request);
        client.receiveAnswers(1);
        ASSERT_EQ(kxtest::answersIn(client.received).size(), 1u) << round << ": " << client.received;
        client.reset();
    }
    EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::openSockets() <= before; }, 10s)) << kxtest::openSockets() - before;

    // Past the limit, a fresh client is answered although slow readers of a large file, then
    // idle clients, hold every connection.
    std::ofstream(folder / "editor" / "large.bin", std::ios::binary) << std::string(4u << 20, 'x');
    AppServer limited(folder / "editor", 2, {16, 15s, 30s});
    ASSERT_TRUE(limited.listen(taken.port, taken.port + 40).isSuccess());
    std::vector<std::unique_ptr<kxtest::BlockingClient>> holders;
    for (int i = 0; i < 40; ++i) {
        if (i == 20)
            std::this_thread::sleep_for(kx::AppServerRoom::awhile);
        holders.push_back(std::make_unique<kxtest::BlockingClient>(limited.port(), 0, i < 20 ? 4096 : 0));
        holders.back()->send(i < 20 ? "GET /large.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" : request);
    }
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(bodyOf(kxtest::blockingGet(limited.port(), "/assets/app.js")), "0123456789abcdefghij");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);

    // One worker, and room for all: its server retires after every 256 connections given up
    // between two requests. A client that keeps one open on each server must not keep them all,
    // and a reader on each, which takes nothing for now, is never cut.
    AppServer one(folder / "editor", 1, {1024, 15s, 30s});
    ASSERT_TRUE(one.listen(taken.port, taken.port + 40).isSuccess());
    kxtest::blockingGet(one.port(), "/index.html");
    std::vector<std::unique_ptr<kxtest::BlockingClient>> kept, readers;
    before = kxtest::openSockets();
    for (int round = 0; round < 3; ++round) {
        readers.push_back(std::make_unique<kxtest::BlockingClient>(one.port(), 0, 4096));
        readers.back()->get("/large.bin");
        std::vector<std::unique_ptr<kxtest::BlockingClient>> given;
        for (int i = 0; i <= 256; ++i) { // the first one is kept
            auto& client = (i == 0 ? kept : given).emplace_back(std::make_unique<kxtest::BlockingClient>(one.port()));
            client->send(request);
            client->receiveAnswers(1);
            if (i > 0)
                client->closeSending();
        }
        for (auto& client : given)
            client->receive();
        EXPECT_TRUE(kxtest::spinUntil([&] { return !kept.back()->isOpen(); }, 10s)) << round;
    }
    for (auto& reader : readers) {
        reader->receive();
        EXPECT_EQ(bodyOf(reader->received).size(), 4u << 20);
    }
    readers.clear();
    EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::openSockets() <= before + int(kept.size()); }, 10s))
        << kxtest::openSockets() - before;
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

    // A folder's index page that links outside is refused like any other link, and so is a
    // folder link on the way out.
    std::filesystem::create_directories(folder / "editor" / "linked");
    std::filesystem::create_symlink(folder / "secret.txt", folder / "editor" / "linked" / "index.html");
    std::filesystem::create_symlink(folder.path(), folder / "editor" / "up");
    for (const char* path : {"/linked/", "/up/secret.txt"}) {
        auto answer = get(path);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 403")) << path << ": " << answer;
        EXPECT_EQ(answer.find("outside"), std::string::npos) << path;
    }
    // A link that stays inside the folder is served like the file it names.
    std::filesystem::create_symlink(folder / "editor" / "assets" / "app.js", folder / "editor" / "alias.js");
    EXPECT_EQ(bodyOf(get("/alias.js")), "0123456789abcdefghij");
}

TEST_F(AppServerTest, ServesOnlyRegularFilesAndNeverBlocksOnThem)
{
    {
        // With no descriptor left to open a file with, the server says it is unavailable for
        // now, not that the file is forbidden.
        kxtest::BlockingClient client(server->port());
        client.send("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        client.receiveAnswers(1);
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        const rlimit had = files;
        files.rlim_cur = rlim_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}) + 16);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
        std::vector<int> filler;
        const auto fill = [&filler] {
            bool took = false;
            for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0; took = true)
                filler.push_back(fd);
            return took;
        };
        // Also those the server lets go of a moment after its first answer (the file it sent).
        for (int quiet = 0; quiet < 3; quiet = fill() ? 0 : quiet + 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        client.send("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        client.receiveAnswers(2);
        for (int fd : filler)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &had);
        const auto answers = kxtest::answersIn(client.received);
        ASSERT_EQ(answers.size(), 2u) << client.received;
        EXPECT_TRUE(answers[1].starts_with("HTTP/1.1 503")) << answers[1];
        EXPECT_EQ(headerOf(answers[1], "Retry-After"), "1");
    }
    // A FIFO would hold a reader until something writes to it.
    ASSERT_EQ(::mkfifo((folder / "editor" / "fifo").c_str(), 0600), 0);
    EXPECT_TRUE(get("/fifo").starts_with("HTTP/1.1 403"));
    std::filesystem::create_symlink("/dev/zero", folder / "editor" / "zero");
    EXPECT_TRUE(get("/zero").starts_with("HTTP/1.1 403"));
    EXPECT_TRUE(get("/index.html").starts_with("HTTP/1.1 200"));
}

TEST_F(AppServerTest, ServesTheFileItCheckedWhileItIsSwappedForALink)
{
    std::ofstream(folder / "editor" / "swapped.txt") << "inside";
    std::filesystem::create_symlink(folder / "secret.txt", folder / "editor" / "other.txt");
    int leaks = 0, served = 0;
    {
        kxtest::PathSwapper swapper(folder / "editor" / "swapped.txt", folder / "editor" / "other.txt");
        for (int i = 0; i < 1000; ++i) {
            auto answer = get("/swapped.txt");
            leaks += answer.find("outside") != std::string::npos;
            served += bodyOf(answer) == "inside";
        }
    }
    EXPECT_EQ(leaks, 0);
    EXPECT_GT(served, 0);
}

TEST_F(AppServerTest, ListensWithABacklogForBursts)
{
    const auto ss = kxtest::runProgram({"ss", "-ltnH", "sport = :" + std::to_string(server->port())});
    ASSERT_EQ(ss.status, 0) << "ss (iproute2) did not run: scripts/setup installs it";
    // "LISTEN 0 128 127.0.0.1:port ...": the third column is the backlog.
    std::istringstream line(ss.output);
    std::string state;
    int queued = -1, backlog = -1;
    line >> state >> queued >> backlog;
    EXPECT_EQ(state, "LISTEN");
    EXPECT_GE(backlog, 128);
}

TEST_F(AppServerTest, StopsAtOnceAfterItStarted)
{
    // A server let go while its workers are still starting their loops: each stop must reach
    // its worker's loop whenever that loop begins to run, or the stop waits for ever.
    for (int round = 0; round < 300; ++round) {
        AppServer quick(folder / "editor");
        ASSERT_TRUE(quick.listen(taken.port, taken.port + 40).isSuccess());
    }
}

TEST(AppServerRange, FailsWhenEveryPortIsTaken)
{
    kxtest::TakenPort taken;
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
    auto info = std::make_shared<kx::AppInfo>(
        kx::Bundle(folder.path(), {{"CFBundleIdentifier", "com.korvel.x"}, {"CFBundleName", "Korvel X"}}), "KorvelX",
        std::nullopt, folder / "Nimbet");
    kxtest::ScopedSetting current(kx::AppInfo::setCurrent, info, kx::AppInfo::current());
    kxtest::LogCapture log;

    EXPECT_EQ(AppServer::shared(), nullptr);
    AppServer::start();
    ASSERT_NE(AppServer::shared(), nullptr);
    auto* first = AppServer::shared();
    EXPECT_GE(first->port(), AppServer::firstPort);
    EXPECT_LE(first->port(), AppServer::lastPort);
    EXPECT_EQ(kxtest::fetch(first->url()).body, "editor");

    AppServer::start();
    EXPECT_EQ(AppServer::shared(), first);
    const auto messages = log.lines();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "App Server already started");
}

} // namespace
