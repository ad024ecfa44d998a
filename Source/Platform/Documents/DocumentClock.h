// The time the document machinery goes by: when a document became edited, when the user last
// typed, when the autosave timer fires. One clock for the process; tests put a clock of their
// own in its place and move it forward by hand. Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "Platform/Foundation/MainQueue.h"

namespace kx {

class DocumentClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::milliseconds;

    virtual ~DocumentClock() = default;
    virtual TimePoint now() const = 0;
    // Runs `work` on the main loop once `delay` has passed on this clock.
    virtual std::shared_ptr<MainQueue::Timer> after(Duration delay, std::function<void()> work) = 0;

    // The process's clock: the steady clock and the main loop's timers.
    static DocumentClock& shared();
    // Replaces the process's clock (nullptr puts the real one back). Tests only.
    static void setSharedForTesting(std::shared_ptr<DocumentClock> clock);
};

} // namespace kx
