#include "Platform/Foundation/RunLoopWait.h"

#include <chrono>
#include <vector>

#include <glib.h>

namespace kx {

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
    std::function<bool()> predicate;
    Clock::time_point deadline;
    std::function<void()> completionHandler;
};

// Main thread only, like the waits themselves.
std::vector<Entry>& pendingWaits()
{
    static std::vector<Entry> list;
    return list;
}
bool spinning = false;

// Work for a turn of the loop at which no wait spins, held while one does.
std::vector<std::function<void()>>& deferredWork()
{
    static std::vector<std::function<void()>> list;
    return list;
}

void postWhenNotWaiting(std::function<void()> work)
{
    // Ahead of pending events: a key press already queued must not overtake work that an
    // earlier press left behind.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_HIGH);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto& work = *static_cast<std::function<void()>*>(data);
            if (spinning)
                deferredWork().push_back(std::move(work));
            else
                work();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)), [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

// The deadline `timeout` seconds from now; none (the clock's end) for a time-out the clock
// cannot hold, which a conversion to its integer ticks would overflow.
Clock::time_point deadlineAfter(double timeout)
{
    const auto now = Clock::now();
    if (!(timeout > 0))
        return now; // zero, negative and NaN: one pass
    const double room = std::chrono::duration<double>(Clock::time_point::max() - now).count();
    if (!(timeout < room * 0.5)) // half, so that rounding to ticks cannot reach the end
        return Clock::time_point::max();
    return now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
}

// One pass of the main loop: returns when a source was dispatched or after 5 ms.
void runOnePass()
{
    GSource* limit = g_timeout_source_new(5);
    g_source_set_callback(limit, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(limit, nullptr);
    g_main_context_iteration(nullptr, TRUE);
    g_source_destroy(limit);
    g_source_unref(limit);
}

} // namespace

void RunLoopWait::waitUsingRecursiveRunloop(std::function<bool()> whilePredicate, double timeout,
                                            std::function<void()> completionHandler)
{
    const auto deadline = deadlineAfter(timeout);
    pendingWaits().push_back({std::move(whilePredicate), deadline, std::move(completionHandler)});
    // The outer call settles every entry, also those added from its passes, predicates and
    // completion handlers; a nested call only adds its entry.
    if (spinning)
        return;

    spinning = true;
    struct Reset {
        ~Reset()
        {
            spinning = false;
            std::vector<std::function<void()>> work;
            work.swap(deferredWork());
            for (auto& item : work)
                postWhenNotWaiting(std::move(item));
        }
    } reset;
    while (!pendingWaits().empty()) {
        runOnePass();
        // Take the entries out before evaluating them: a predicate or a handler that starts a
        // wait appends to the (now empty) shared list, and no entry is evaluated twice.
        std::vector<Entry> current;
        current.swap(pendingWaits());
        std::vector<Entry> kept;
        for (auto& entry : current) {
            if (entry.predicate() && Clock::now() <= entry.deadline) {
                kept.push_back(std::move(entry));
            } else if (entry.completionHandler) {
                entry.completionHandler();
            }
        }
        // Kept entries stay ahead of those added meanwhile, as they were older.
        auto& list = pendingWaits();
        list.insert(list.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
    }
}

bool RunLoopWait::isWaiting()
{
    return spinning;
}

void RunLoopWait::whenNotWaiting(std::function<void()> work)
{
    if (spinning)
        deferredWork().push_back(std::move(work));
    else
        postWhenNotWaiting(std::move(work));
}

} // namespace kx
