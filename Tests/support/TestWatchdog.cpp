// Every test of every test program is bounded as a whole. A watchdog thread follows the tests
// (a GoogleTest listener, registered while the program starts, so that no test program can
// forget it); when one runs past its limit, 240 s or KX_TEST_CASE_LIMIT seconds, it prints the
// test's name and the waits in progress and ends the program. A hang then costs minutes and
// says where it hung, instead of running into CTest's time-out with nothing to show. The limit
// stretches, as the waits do, by the time the waits do not count (the application's processes
// waiting for a processor, see Spin.h), up to twice its own: a test whose waits went on for a
// starved application then fails the wait that ran out, not the whole program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "support/Spin.h"

namespace kxtest {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::seconds caseLimit()
{
    if (const char* text = std::getenv("KX_TEST_CASE_LIMIT")) {
        const long seconds = std::strtol(text, nullptr, 10);
        if (seconds > 0)
            return std::chrono::seconds(seconds);
    }
    return std::chrono::seconds(240);
}

// What the watchdog's thread follows. Never destroyed: the thread may still wait on it while
// the program ends, after GoogleTest has deleted its listeners.
class Watchdog {
public:
    void started(const ::testing::TestInfo& test)
    {
        std::lock_guard lock(mutex_);
        name_ = std::string(test.test_suite_name()) + "." + test.name();
        deadline_ = Clock::now() + limit_;
        uncountedAtStart_ = uncountedTime();
        armed_ = true;
        if (!running_) {
            running_ = true;
            std::thread([this] { watch(); }).detach();
        }
        changed_.notify_all();
    }
    void ended()
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
        changed_.notify_all();
    }

private:
    void watch()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!armed_) {
                changed_.wait(lock);
                continue;
            }
            // Looked at again each second: the uncounted time grows while the test runs.
            const auto stretch = [this] { return std::min<Clock::duration>(uncountedTime() - uncountedAtStart_, limit_); };
            if (changed_.wait_until(lock, std::min(deadline_ + stretch(), Clock::now() + std::chrono::seconds(1))) == std::cv_status::no_timeout
                || !armed_ || Clock::now() < deadline_ + stretch())
                continue;
            const auto stretched = std::chrono::duration_cast<std::chrono::seconds>(stretch()).count();
            const std::string report = "\n*** " + name_ + " ran longer than " + std::to_string(limit_.count()) + " s"
                                       + (stretched > 0 ? " and the " + std::to_string(stretched) + " s its application waited for a processor" : "")
                                       + " and is stopped. Waits in progress, outermost first:\n" + waitsInProgress();
            // Straight to the descriptor: the main thread may hold stdio's lock.
            [[maybe_unused]] auto written = ::write(2, report.data(), report.size());
            ::_exit(124);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const std::chrono::seconds limit_ = caseLimit();
    std::string name_;
    Clock::time_point deadline_;
    std::chrono::nanoseconds uncountedAtStart_{0};
    bool armed_ = false;
    bool running_ = false;
};

Watchdog* const watchdog = new Watchdog;

class WatchdogListener final : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo& test) override { watchdog->started(test); }
    void OnTestEnd(const ::testing::TestInfo&) override { watchdog->ended(); }
};

// Registered while the test program starts, before main runs its tests.
const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    return true;
}();

} // namespace

} // namespace kxtest
