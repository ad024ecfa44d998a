// Spinning the main loop on the main thread until a condition stops holding or a time-out
// passes, for code that must have an answer from a page or an asynchronous step before it
// returns. All waits share one spinning loop: a wait started while another spins returns at
// once and its completion runs from the outer loop. Every completion runs exactly once.
#pragma once

#include <functional>

namespace kx {

class RunLoopWait {
public:
    // `whilePredicate` returns true while the wait must go on; it is first asked after one
    // pass of the loop (at most 5 ms). `completionHandler` runs once, when the predicate turns
    // false or the deadline (`timeout` seconds from now) has passed. A time-out too large for
    // the clock, or infinite, means no deadline. Main thread only.
    static void waitUsingRecursiveRunloop(std::function<bool()> whilePredicate, double timeout,
                                          std::function<void()> completionHandler);
    // True while a wait is spinning.
    static bool isWaiting();

    // Runs `work` once, from a later turn of the main loop at which no wait spins, ahead of
    // the events that are pending by then: for work that must itself wait and so cannot start
    // inside another wait. Main thread only.
    static void whenNotWaiting(std::function<void()> work);
};

} // namespace kx
