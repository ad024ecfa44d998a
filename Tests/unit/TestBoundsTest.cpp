// The bounds every test runs within: a wait inside a wait ends at the outer deadline, and a
// test that runs past its limit ends its program with a report of where it waited. Neither a
// failure while the test looks at standard output, nor another program or a server that never
// answers, takes the program with it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/ChildProcess.h"
#include "support/HttpFetch.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/StdoutCapture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(TestBounds, AWaitInsideAWaitEndsAtTheOuterDeadline)
{
    const auto start = Clock::now();
    int innerWaits = 0;
    bool innerMet = true;
    const bool met = kxtest::spinUntil([&] {
        ++innerWaits;
        // Ten seconds of its own, but the wait around it has far less.
        innerMet = kxtest::spinUntil([] { return false; }, 10s);
        return false;
    }, 300ms);
    EXPECT_FALSE(met);
    EXPECT_FALSE(innerMet);
    EXPECT_GE(innerWaits, 1);
    EXPECT_LT(Clock::now() - start, 5s);
}

// From here on, every moment of the waits goes uncounted, as for an application that the
// machine never lets run; as before once it goes.
class NothingCounted {
public:
    NothingCounted() { kxtest::setUncountedTime([start = Clock::now()] { return Clock::now() - start; }); }
    ~NothingCounted() { kxtest::setUncountedTime(nullptr); }
};

TEST(TestBounds, AWaitGoesOnForTheTimeItDoesNotCountUpToThreeTimesItsOwnAlsoInsideAnother)
{
    const auto start = Clock::now();
    Clock::time_point lastLook;
    const NothingCounted nothing;
    EXPECT_FALSE(kxtest::spinUntil([&] {
        lastLook = Clock::now();
        return false;
    }, 200ms));
    EXPECT_GT(lastLook - start, 400ms);
    // Three times 200 ms at the most, and a busy machine's turn.
    EXPECT_LT(Clock::now() - start, 1500ms);

    // Inside another, it ends with that one, which went on too.
    const auto outerStart = Clock::now();
    bool innerMet = true;
    EXPECT_FALSE(kxtest::spinUntil([&] {
        innerMet = kxtest::spinUntil([] { return false; }, 10s);
        lastLook = Clock::now();
        return false;
    }, 200ms));
    EXPECT_FALSE(innerMet);
    EXPECT_GT(lastLook - outerStart, 400ms);
    EXPECT_LT(Clock::now() - outerStart, 1500ms);
}

TEST(TestBounds, AWaitSaysWhereItIs)
{
    std::string inside;
    EXPECT_FALSE(kxtest::spinUntil([&] {
        inside = kxtest::waitsInProgress();
        return false;
    }, 50ms));
    EXPECT_NE(inside.find("TestBoundsTest.cpp:"), std::string::npos) << inside;
    EXPECT_EQ(kxtest::waitsInProgress().find("TestBoundsTest.cpp:"), std::string::npos);
}

// Run only by the test below, in a program of its own with a limit of one second: a wait of
// ours around a call that blocks the main loop.
TEST(TestBounds, DISABLED_BlocksPastItsLimit)
{
    (void)kxtest::spinUntil([] {
        std::this_thread::sleep_for(30s);
        return true;
    }, 60s);
}

TEST(TestBounds, ATestPastItsLimitEndsItsProgramNamingTheTestAndItsWaits)
{
    kxtest::ScopedSetting limit("KX_TEST_CASE_LIMIT", "1"); // for the program only: this one read it at its start
    kxtest::ChildProcess program({std::filesystem::read_symlink("/proc/self/exe").string(),
                                  "--gtest_filter=TestBounds.DISABLED_BlocksPastItsLimit", "--gtest_also_run_disabled_tests"},
                                 true);
    const std::string output = program.readAll(20s);
    EXPECT_EQ(program.waitForExit(10s), 124) << output;
    EXPECT_NE(output.find("TestBounds.DISABLED_BlocksPastItsLimit ran longer than 1 s and is stopped"), std::string::npos) << output;
    EXPECT_NE(output.find("a condition at Tests/unit/TestBoundsTest.cpp:"), std::string::npos) << output;
}

// Run only by the test below, in a program of its own with a limit of one second: a test whose
// application the machine never lets run.
TEST(TestBounds, DISABLED_StarvedPastItsLimit)
{
    const NothingCounted nothing;
    std::this_thread::sleep_for(1500ms);
}

TEST(TestBounds, ATestsLimitStretchesWithTheTimeItsWaitsDoNotCountUpToTwiceItsOwn)
{
    kxtest::ScopedSetting limit("KX_TEST_CASE_LIMIT", "1");
    kxtest::ChildProcess program({std::filesystem::read_symlink("/proc/self/exe").string(),
                                  "--gtest_filter=TestBounds.DISABLED_StarvedPastItsLimit", "--gtest_also_run_disabled_tests"},
                                 true);
    const std::string output = program.readAll(20s);
    EXPECT_EQ(program.waitForExit(10s), 0) << output;
}

// Run only by the test below, in a program of their own: a failure while standard output is
// captured, then a capture in the next test.
TEST(TestBounds, DISABLED_FailsWhileCapturing)
{
    kxtest::StdoutCapture output;
    std::puts("captured");
    ASSERT_TRUE(false) << "the failure inside the capture";
}

TEST(TestBounds, DISABLED_CapturesAfterAFailure)
{
    kxtest::StdoutCapture output;
    std::puts("again");
    EXPECT_EQ(output.text(), "again\n");
}

TEST(TestBounds, AFailureWhileCapturingIsPrintedAndTheProgramGoesOn)
{
    kxtest::ChildProcess program({std::filesystem::read_symlink("/proc/self/exe").string(),
                                  "--gtest_filter=TestBounds.DISABLED_FailsWhileCapturing:TestBounds.DISABLED_CapturesAfterAFailure",
                                  "--gtest_also_run_disabled_tests"},
                                 true);
    const std::string output = program.readAll(20s);
    EXPECT_EQ(program.waitForExit(10s), 1) << output;
    EXPECT_NE(output.find("the failure inside the capture"), std::string::npos) << output;
    EXPECT_NE(output.find("[       OK ] TestBounds.DISABLED_CapturesAfterAFailure"), std::string::npos) << output;
}

// A request to a server that takes it and never answers, inside a wait of 300 ms.
void askASilentServer()
{
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
    (void)kxtest::spinUntil([&] {
        kxtest::rawRequest(ntohs(address.sin_port), "GET / HTTP/1.1\r\n\r\n");
        return true;
    }, 300ms);
    ::close(server);
}

TEST(TestBounds, AProgramOrARequestWithoutAnEndEndsAtItsDeadline)
{
    const auto start = Clock::now();
    EXPECT_NONFATAL_FAILURE((kxtest::runProgram({"sleep", "30"}, std::nullopt, 300ms)), "sleep did not end within 300 ms; killed");
    EXPECT_NONFATAL_FAILURE(askASilentServer(), "no end to the request");
    EXPECT_LT(Clock::now() - start, 10s);
}

} // namespace
