// The main queue: work handed to the GLib main loop of the main thread. `async` may be called
// from any thread; timers fire on the main thread and can be cancelled there or anywhere.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace kx {

class MainQueue {
public:
    class Timer {
    public:
        virtual ~Timer() = default;
        // Stops the timer; a callback that has not started yet never runs. Idempotent.
        virtual void cancel() = 0;
        virtual bool isCancelled() const = 0;
    };

    // Runs `work` on the main thread at the next turn of the main loop, in submission order.
    static void async(std::function<void()> work);
    // Runs `work` on the main thread after `delay`. The timer may be ignored.
    static std::shared_ptr<Timer> after(std::chrono::milliseconds delay, std::function<void()> work);
    // Runs `work` on the main thread every `interval` until cancelled.
    static std::shared_ptr<Timer> repeating(std::chrono::milliseconds interval, std::function<void()> work);
    // Runs `work` once the main loop is idle (nothing of higher priority pending).
    static void whenIdle(std::function<void()> work);

    // True on the thread that runs the main loop (the thread that started the process).
    static bool isMainThread();
};

} // namespace kx
