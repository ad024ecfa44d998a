// An alternate signal stack for the calling thread while the object lives. A fatal-signal
// handler runs on it (with SA_ONSTACK), so a thread that overflowed its own stack can still
// report the fault. A thread that already has one (a sanitizer's, say) keeps it untouched.
//
// Every thread this program starts gets one through `startThread`; the main thread's is made
// by the crash reporter. Threads that libraries start (GLib's and GIO's worker pools, GDBus,
// WebKit's and GStreamer's threads) have none: a fault there is still reported, on the
// thread's own stack, but a stack overflow there ends the process without a report.
#pragma once

#include <cstddef>
#include <thread>
#include <utility>

namespace kx {

class AlternateSignalStack {
public:
    static constexpr std::size_t defaultSize = 128 * 1024;

    explicit AlternateSignalStack(std::size_t size = defaultSize);
    // Switches the stack off again (only when it is still this object's) and unmaps it.
    ~AlternateSignalStack();
    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

    // True when this object installed a stack (false when the thread had one already or the
    // memory could not be had).
    bool isInstalled() const { return base_ != nullptr; }
    // True when the calling thread has an alternate signal stack, whoever set it.
    static bool threadHasOne();

private:
    void* base_ = nullptr;      // the mapping, guard page first
    std::size_t mapped_ = 0;
    void* stack_ = nullptr;     // above the guard page
};

// Starts a thread whose body runs with an alternate signal stack of its own. The one way this
// program starts threads.
template <class Body>
std::thread startThread(Body body)
{
    return std::thread([body = std::move(body)]() mutable {
        AlternateSignalStack signalStack;
        body();
    });
}

} // namespace kx
