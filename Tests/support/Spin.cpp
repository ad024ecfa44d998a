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

struct Wait {
    std::string what;
    kxtest::SourceLocation where;
    Clock::time_point deadline;
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
// around it when that comes first; the deadline it got.
Clock::time_point push(std::string what, kxtest::SourceLocation where, std::chrono::milliseconds timeout)
{
    Clock::time_point deadline = Clock::now() + timeout;
    std::lock_guard lock(waits().mutex);
    if (!waits().stack.empty())
        deadline = std::min(deadline, waits().stack.back().deadline);
    waits().stack.push_back({std::move(what), where, deadline});
    return deadline;
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
    : deadline_(push(std::move(what), where, timeout))
{
}

WaitScope::~WaitScope()
{
    pop();
}

std::chrono::milliseconds WaitScope::remaining() const
{
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()));
}

std::string waitsInProgress()
{
    std::lock_guard lock(waits().mutex);
    std::string text;
    const auto now = Clock::now();
    for (const auto& wait : waits().stack) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wait.deadline - now).count();
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
