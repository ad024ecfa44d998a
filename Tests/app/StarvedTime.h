// The time the application's processes spent ready to run while other programs held every
// processor (the kernel's run-queue wait of their main threads): the waits of the application
// tests do not count it (support/Spin.h). On two processors shared by several suites, under the
// sanitizers, a launch that takes 4 s alone took half a minute; a window that the application
// never shows still fails its wait in the time it gives, counted in time the application had.
// Thread-safe: the test watchdog's thread reads it too.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>

namespace kxtest {

class StarvedTime {
public:
    static StarvedTime& shared();

    // Counts the process from now on, until it is forgotten.
    void follow(pid_t process);
    void forget(pid_t process);
    // The total so far: per look, the longest wait of one followed process since the last look.
    // It grows no faster than the clock.
    std::chrono::nanoseconds total();

private:
    std::mutex mutex_;
    std::map<pid_t, std::chrono::nanoseconds> lastWait_;
    std::chrono::nanoseconds total_{0};
};

} // namespace kxtest
