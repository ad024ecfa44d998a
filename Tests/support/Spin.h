// Waiting in tests: turn the main loop until a condition holds or a deadline passes.
//
// Every wait is bounded, also a wait inside another one (a page script evaluated inside a
// condition that is itself waited for): an inner wait never outlasts the wait around it, so
// the outermost time-out bounds them all. And every test is bounded as a whole: a test that
// runs past its limit (a wait that is not one of these, a call that blocks the main loop) ends
// the test program with a report naming the test and every wait in progress, innermost last
// (see TestWatchdog.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "support/SourceLocation.h"

namespace kxtest {

// Iterates the default main context until `predicate` is true; false when the time-out (or
// the deadline of a wait around this one) passed first. The result must be used: a wait that
// ended without its condition is a failure or a decision of the caller, never ignored.
[[nodiscard]] bool spinUntil(const std::function<bool()>& predicate,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10),
                             kxtest::SourceLocation where = kxtest::SourceLocation::current());

// Iterates the default main context for the given time, for "nothing more arrives" checks.
void spinFor(std::chrono::milliseconds duration, kxtest::SourceLocation where = kxtest::SourceLocation::current());

// Turns the main loop until nothing is pending (what a change set off has been handled), or
// for at most `limit` when timers keep it busy.
void settle(std::chrono::milliseconds limit = std::chrono::seconds(2),
            kxtest::SourceLocation where = kxtest::SourceLocation::current());

// A blocking wait that is not a turn of the main loop (a child process, a pipe), named for the
// watchdog's report while it lasts. Its deadline is its own, clamped to the waits around it.
class WaitScope {
public:
    WaitScope(std::string what, std::chrono::milliseconds timeout,
              kxtest::SourceLocation where = kxtest::SourceLocation::current());
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

    // The deadline as it stands now: later by the uncounted time since the wait began.
    std::chrono::steady_clock::time_point deadline() const;
    bool expired() const;
    // What is left until the deadline, never negative.
    std::chrono::milliseconds remaining() const;

private:
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::steady_clock::time_point latest_;
    std::chrono::nanoseconds uncountedAtStart_;
};

// The waits in progress, outermost first, one line each ("what at file:line, N s left").
std::string waitsInProgress();

// Time that waits do not count, as a total that only grows, never faster than the clock: a
// program that waits for other programs counts only the time in which they could run (see
// Tests/app/StarvedTime.h). A wait still ends by three times its time-out. None unless set;
// `total` may be called from any thread.
void setUncountedTime(std::function<std::chrono::nanoseconds()> total);
// That total now (zero when none is set); from any thread.
std::chrono::nanoseconds uncountedTime();

// The threads of this process now. A thread just joined may still be listed while the kernel
// ends it, on a busy machine for a while, and GLib's idle workers end when they like: wait for
// a count to come back with spinUntil, never compare at once.
std::size_t threadCount();

} // namespace kxtest
