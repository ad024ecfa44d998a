// The static server's bodies: byte ranges answered by us (never by libsoup), and files of any
// size streamed from the file that was opened.
#include "App/server/AppServer.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "AppServerClient.h"
#include "App/server/AppServerRequest.h"
#include "support/TestPaths.h"

namespace {

using kx::AppServer;
using kxtest::bodyOf;
using kxtest::headerOf;

class AppServerStreamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(folder / "app.js") << "0123456789abcdefghij";
        std::ofstream(folder / "empty.txt");
        server = std::make_unique<AppServer>(folder.path());
        ASSERT_TRUE(server->listen(taken.port + 1, taken.port + 40).isSuccess());
    }

    std::string get(const std::string& path, const std::string& headers = {}) const
    {
        return kxtest::blockingGet(server->port(), path, headers);
    }
    std::string range(const std::string& path, const std::string& value) const
    {
        return get(path, "Range: " + value + "\r\n");
    }

    kxtest::TemporaryDirectory folder;
    kxtest::TakenPort taken;
    std::unique_ptr<AppServer> server;
};

TEST_F(AppServerStreamingTest, AnswersByteRanges)
{
    struct Case {
        const char* range;
        const char* status;
        const char* contentRange;
        const char* body;
    };
    const Case cases[] = {
        {"bytes=2-5", "206", "bytes 2-5/20", "2345"},
        {"bytes=-3", "206", "bytes 17-19/20", "hij"},
        // A suffix longer than the file is the whole file.
        {"bytes=-100", "206", "bytes 0-19/20", "0123456789abcdefghij"},
        {"bytes=-18446744073709551616", "206", "bytes 0-19/20", "0123456789abcdefghij"},
        {"bytes=15-", "206", "bytes 15-19/20", "fghij"},
        {"bytes=50-60", "416", "bytes */20", ""},
        {"bytes=18446744073709551615-", "416", "bytes */20", ""},
        // Malformed or several ranges: the whole file.
        {"bytes=5-2", "200", "", "0123456789abcdefghij"},
        {"bytes=0-1,4-5", "200", "", "0123456789abcdefghij"},
        {"pages=1-2", "200", "", "0123456789abcdefghij"},
    };
    for (const auto& c : cases) {
        auto answer = range("/app.js", c.range);
        EXPECT_TRUE(answer.starts_with(std::string("HTTP/1.1 ") + c.status)) << c.range << ": " << answer;
        EXPECT_EQ(headerOf(answer, "Content-Range"), c.contentRange) << c.range;
        EXPECT_EQ(bodyOf(answer), c.body) << c.range;
        EXPECT_EQ(headerOf(answer, "Content-Length"), std::to_string(std::string(c.body).size())) << c.range;
    }
    EXPECT_TRUE(range("/empty.txt", "bytes=-5").starts_with("HTTP/1.1 200"));

    // A range for another version of the file is ignored.
    std::string etag = headerOf(get("/app.js"), "ETag");
    EXPECT_EQ(bodyOf(get("/app.js", "Range: bytes=0-1\r\nIf-Range: " + etag + "\r\n")), "01");
    EXPECT_EQ(bodyOf(get("/app.js", "Range: bytes=0-1\r\nIf-Range: \"old\"\r\n")), "0123456789abcdefghij");
}

TEST_F(AppServerStreamingTest, StreamsLargeFilesChunkByChunk)
{
    // Several chunks and an odd end, in random bytes.
    std::string contents(3 * kx::AppServerRequest::chunkSize + 12345, '\0');
    std::mt19937 random(7);
    for (char& c : contents)
        c = static_cast<char>(random());
    std::ofstream(folder / "large.bin", std::ios::binary) << contents;

    EXPECT_TRUE(bodyOf(get("/large.bin")) == contents);
    std::size_t first = kx::AppServerRequest::chunkSize - 10, last = 2 * kx::AppServerRequest::chunkSize + 10;
    auto middle = range("/large.bin", "bytes=" + std::to_string(first) + "-" + std::to_string(last));
    EXPECT_TRUE(bodyOf(middle) == contents.substr(first, last - first + 1));

    // One byte at the end of a 1 GiB file (sparse on disk) is one byte of work.
    int fd = ::open((folder / "huge.bin").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    constexpr off_t huge = off_t(1) << 30;
    ASSERT_EQ(::pwrite(fd, "z", 1, huge - 1), 1);
    ::close(fd);
    auto tail = range("/huge.bin", "bytes=" + std::to_string(huge - 1) + "-");
    EXPECT_TRUE(tail.starts_with("HTTP/1.1 206")) << tail.substr(0, 200);
    EXPECT_EQ(bodyOf(tail), "z");
    EXPECT_EQ(headerOf(tail, "Content-Range"), "bytes 1073741823-1073741823/1073741824");
}

TEST_F(AppServerStreamingTest, AFileCutShortWhileSentEndsTheConnection)
{
    std::string contents(32 * kx::AppServerRequest::chunkSize, 'x');
    std::ofstream(folder / "shrinking.bin", std::ios::binary) << contents;
    kxtest::BlockingClient client(server->port());
    client.get("/shrinking.bin");
    client.receive(64 * 1024);
    ASSERT_TRUE(client.received.starts_with("HTTP/1.1 200")) << client.received.substr(0, 200);
    std::filesystem::resize_file(folder / "shrinking.bin", 0);

    // The promised length cannot be kept: the connection closes instead of hanging.
    client.receive();
    EXPECT_TRUE(client.closed);
    EXPECT_FALSE(client.timedOut);
    EXPECT_LT(bodyOf(client.received).size(), contents.size());
    EXPECT_EQ(headerOf(client.received, "Content-Length"), std::to_string(contents.size()));
}

} // namespace
