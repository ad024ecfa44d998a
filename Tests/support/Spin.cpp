#include "support/Spin.h"

#include <glib.h>

namespace kxtest {

bool spinUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A timer wakes the loop regularly so that conditions set by other threads are seen.
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool met = predicate();
    while (!met && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        met = predicate();
    }
    g_source_remove(tick);
    return met;
}

void spinFor(std::chrono::milliseconds duration)
{
    const auto deadline = std::chrono::steady_clock::now() + duration;
    spinUntil([&] { return std::chrono::steady_clock::now() >= deadline; }, duration + std::chrono::seconds(1));
}

} // namespace kxtest
