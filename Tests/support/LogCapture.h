// The message of every RKLog line written while it lives, from any thread, in place of the
// journal. Its writer goes with it in every case (ScopedSetting); one capture at a time.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "support/ScopedSetting.h"

namespace kxtest {

class LogCapture {
public:
    LogCapture();

    // A copy: lines may still come from other threads.
    std::vector<std::string> lines() const;
    // The lines so far, which it then forgets.
    std::vector<std::string> take();
    bool contains(std::string_view text) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    // Last: set once the lines can be kept, and reset before they go.
    ScopedSetting writer_;
};

} // namespace kxtest
