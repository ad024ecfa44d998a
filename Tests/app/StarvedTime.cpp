#include "StarvedTime.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

namespace kxtest {

namespace {

// The second field of /proc/PID/task/PID/schedstat: the main thread's time ready to run on a
// run queue. None where the kernel keeps no such figures or the process is gone.
std::optional<std::chrono::nanoseconds> runQueueWait(pid_t process)
{
    const std::string id = std::to_string(process);
    std::ifstream file("/proc/" + id + "/task/" + id + "/schedstat");
    long long onProcessor = 0, waiting = 0;
    if (!(file >> onProcessor >> waiting))
        return std::nullopt;
    return std::chrono::nanoseconds(waiting);
}

} // namespace

StarvedTime& StarvedTime::shared()
{
    // Never destroyed: the watchdog's thread may read it while the program ends.
    static StarvedTime* instance = new StarvedTime;
    return *instance;
}

void StarvedTime::follow(pid_t process)
{
    const auto now = runQueueWait(process);
    std::lock_guard lock(mutex_);
    if (now)
        lastWait_[process] = *now;
}

void StarvedTime::forget(pid_t process)
{
    std::lock_guard lock(mutex_);
    lastWait_.erase(process);
}

std::chrono::nanoseconds StarvedTime::total()
{
    std::lock_guard lock(mutex_);
    // The longest, not the sum: processes kept waiting side by side lose that time once.
    std::chrono::nanoseconds longest{0};
    for (auto& [process, last] : lastWait_) {
        if (const auto now = runQueueWait(process)) {
            longest = std::max(longest, *now - last);
            last = *now;
        }
    }
    total_ += longest;
    return total_;
}

} // namespace kxtest
