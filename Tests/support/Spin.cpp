#include "support/Spin.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <vector>

namespace kxtest {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

struct Uncounted {
    std::mutex mutex;
    std::function<nanoseconds()> total;
};

Uncounted& uncounted()
{
    // Never destroyed, as the waits below.
    static Uncounted* shared = new Uncounted;
    return *shared;
}

nanoseconds uncountedNow()
{
    std::function<nanoseconds()> total;
    {
        std::lock_guard lock(uncounted().mutex);
        total = uncounted().total;
    }
    return total ? total() : nanoseconds(0);
}

// Where a wait ends: its deadline, later by the time uncounted since it began, never past
// `latest`.
struct End {
    Clock::time_point deadline;
    Clock::time_point latest;
    nanoseconds uncountedAtStart;

    Clock::time_point at(nanoseconds uncountedNow) const
    {
        return std::min(latest, deadline + std::chrono::duration_cast<Clock::duration>(uncountedNow - uncountedAtStart));
    }
};

struct Wait {
    std::string what;
    kxtest::SourceLocation where;
    End end;
};

// The waits in progress, read by the watchdog's thread as well.
struct Waits {
    std::mutex mutex;
    std::vector<Wait> stack;
};

Waits& waits()
{
    // Never destroyed: the watchdog's thread may read it while the process ends.
    static Waits* shared = new Waits;
    return *shared;
}

// Pushes a wait whose deadline is its own time-out, or the deadline of the innermost wait
// around it when that comes first (so also later, never past that one's); where it ends.
End push(std::string what, kxtest::SourceLocation where, std::chrono::milliseconds timeout)
{
    const nanoseconds now = uncountedNow();
    const Clock::time_point start = Clock::now();
    End end{start + timeout, start + 3 * timeout, now};
    std::lock_guard lock(waits().mutex);
    if (!waits().stack.empty()) {
        const End& outer = waits().stack.back().end;
        end.deadline = std::min(end.deadline, outer.at(now));
        end.latest = std::min(end.latest, outer.latest);
    }
    waits().stack.push_back({std::move(what), where, end});
    return end;
}

void pop()
{
    std::lock_guard lock(waits().mutex);
    waits().stack.pop_back();
}

std::string shortFile(const char* file)
{
    std::string path(file);
    const auto tests = path.rfind("/Tests/");
    return tests == std::string::npos ? path : path.substr(tests + 1);
}

} // namespace

bool spinUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    const WaitScope wait("a condition", timeout, where);
    // A timer wakes the loop regularly so that conditions set by other threads are seen, and
    // so that the deadline is seen when nothing else happens. At the lowest priority: on a busy
    // machine, where a turn and its check outlast the timer, one of a higher priority would be
    // all that each turn dispatches, and GTK's redraws and other idle work would never come.
    struct Tick {
        guint source = g_timeout_add_full(G_PRIORITY_LOW, 5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr,
                                          nullptr);
        ~Tick() { g_source_remove(source); }
    } tick;
    bool met = predicate();
    while (!met && !wait.expired()) {
        g_main_context_iteration(nullptr, TRUE);
        met = predicate();
    }
    return met;
}

void spinFor(std::chrono::milliseconds duration, kxtest::SourceLocation where)
{
    const auto end = Clock::now() + duration;
    (void)spinUntil([&] { return Clock::now() >= end; }, duration + std::chrono::seconds(1), where);
}

void settle(std::chrono::milliseconds limit, kxtest::SourceLocation where)
{
    // Busy timers may keep the loop from ever being idle: then `limit` ends the settling.
    (void)spinUntil([] { return !g_main_context_pending(nullptr); }, limit, where);
}

WaitScope::WaitScope(std::string what, std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    const End end = push(std::move(what), where, timeout);
    deadline_ = end.deadline;
    latest_ = end.latest;
    uncountedAtStart_ = end.uncountedAtStart;
}

WaitScope::~WaitScope()
{
    pop();
}

Clock::time_point WaitScope::deadline() const
{
    return End{deadline_, latest_, uncountedAtStart_}.at(uncountedNow());
}

bool WaitScope::expired() const
{
    // The uncounted time is asked for only once the clock alone has reached the deadline.
    const Clock::time_point now = Clock::now();
    return now >= deadline_ && now >= deadline();
}

std::chrono::milliseconds WaitScope::remaining() const
{
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline() - Clock::now()));
}

nanoseconds uncountedTime()
{
    return uncountedNow();
}

void setUncountedTime(std::function<nanoseconds()> total)
{
    std::lock_guard lock(uncounted().mutex);
    uncounted().total = std::move(total);
}

std::string waitsInProgress()
{
    const nanoseconds uncountedTotal = uncountedNow();
    std::lock_guard lock(waits().mutex);
    std::string text;
    const auto now = Clock::now();
    for (const auto& wait : waits().stack) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wait.end.at(uncountedTotal) - now).count();
        char line[512];
        std::snprintf(line, sizeof line, "  %s at %s:%u, %s %.1f s\n", wait.what.c_str(), shortFile(wait.where.file_name()).c_str(),
                      unsigned(wait.where.line()), left >= 0 ? "deadline in" : "deadline passed", std::abs(left) / 1000.0);
        text += line;
    }
    return text.empty() ? "  none (the test is not waiting in a wait of ours)\n" : text;
}

std::size_t threadCount()
{
    std::error_code error;
    return std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task", error),
                                     std::filesystem::directory_iterator()));
}

} // namespace kxtest
