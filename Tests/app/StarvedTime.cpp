#include "StarvedTime.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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

// The processes that `process` started (its pages' and its servers' processes), from any of its
// threads.
std::vector<pid_t> childrenOf(pid_t process)
{
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/task", ec)) {
        std::ifstream file(task.path() / "children");
        for (pid_t child = 0; file >> child;)
            children.push_back(child);
    }
    return children;
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
    const auto wait = runQueueWait(process);
    std::lock_guard lock(mutex_);
    followed_.insert(process);
    if (wait)
        lastWait_[process] = *wait;
}

void StarvedTime::forget(pid_t process)
{
    std::lock_guard lock(mutex_);
    followed_.erase(process);
    lastWait_.erase(process);
}

std::chrono::nanoseconds StarvedTime::total()
{
    std::lock_guard lock(mutex_);
    // What the followed ones started is the application too: its pages draw what the tests wait
    // for. Looked for now and then; counted from when first seen.
    const auto now = std::chrono::steady_clock::now();
    if (now - childrenLookedAt_ > std::chrono::milliseconds(250)) {
        childrenLookedAt_ = now;
        for (const pid_t parent : followed_)
            for (const pid_t child : childrenOf(parent))
                if (!lastWait_.contains(child))
                    if (const auto wait = runQueueWait(child))
                        lastWait_[child] = *wait;
    }
    // The longest, not the sum: processes kept waiting side by side lose that time once.
    std::chrono::nanoseconds longest{0};
    for (auto entry = lastWait_.begin(); entry != lastWait_.end();) {
        if (const auto wait = runQueueWait(entry->first)) {
            longest = std::max(longest, *wait - entry->second);
            entry->second = *wait;
            ++entry;
        } else if (followed_.contains(entry->first)) {
            ++entry;
        } else {
            entry = lastWait_.erase(entry); // a child that ended
        }
    }
    total_ += longest;
    return total_;
}

} // namespace kxtest
