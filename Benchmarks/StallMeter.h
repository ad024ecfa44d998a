// The longest time the main loop went without turning while it is measured: a timer of high
// priority notes each turn. The gap still open when asked counts too.
#pragma once

#include <glib.h>

#include <algorithm>
#include <chrono>

class StallMeter {
public:
    using Clock = std::chrono::steady_clock;

    StallMeter()
        : last_(Clock::now())
    {
        id_ = g_timeout_add_full(G_PRIORITY_HIGH, 1, [](gpointer data) -> gboolean {
            static_cast<StallMeter*>(data)->tick();
            return G_SOURCE_CONTINUE;
        }, this, nullptr);
    }
    ~StallMeter() { g_source_remove(id_); }
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;

    // Time the caller spent in work measured on its own, left out of the current gap.
    void exclude(Clock::duration duration) { excluded_ += duration; }
    void reset()
    {
        last_ = Clock::now();
        longest_ = {};
    }
    // A stall is over only once the timer ran again: the loop turns until it has.
    double longestMilliseconds()
    {
        const auto asked = Clock::now();
        while (last_ < asked)
            g_main_context_iteration(nullptr, TRUE);
        return std::chrono::duration<double, std::milli>(longest_).count();
    }

private:
    void tick()
    {
        const auto now = Clock::now();
        longest_ = std::max(longest_, now - last_ - excluded_);
        last_ = now;
        excluded_ = {};
    }

    guint id_ = 0;
    Clock::time_point last_;
    Clock::duration longest_{};
    Clock::duration excluded_{};
};
