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
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeout > 0 ? timeout : 0));
    pendingWaits().push_back({std::move(whilePredicate), deadline, std::move(completionHandler)});
    // The outer call settles every entry, also those added from its passes, predicates and
    // completion handlers; a nested call only adds its entry.
    if (spinning)
        return;

    spinning = true;
    struct Reset {
        ~Reset() { spinning = false; }
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

} // namespace kx
