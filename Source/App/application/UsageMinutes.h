// The minutes of use counted in the user defaults, one tick a minute: minutes while the
// application was active, blocks of ten and of sixty active minutes, and active minutes in which
// the user had been idle 61 s or more. The counters only grow.
#pragma once

#include <cstdint>

#include "Platform/Foundation/UserDefaults.h"

namespace kx {

struct UsageMinutes {
    static constexpr const char* activeKey = "PDIntervalMinutesActive";
    static constexpr const char* active10Key = "PDIntervalMinutesActive10";
    static constexpr const char* active60Key = "PDIntervalMinutesActive60";
    static constexpr const char* idleKey = "PDIntervalMinutesActiveIdle";
    // Idle this long (or longer) in an active minute makes it an idle minute.
    static constexpr std::uint64_t idleSeconds = 61;

    std::int64_t active = 0;
    std::int64_t active10 = 0;
    std::int64_t active60 = 0;
    std::int64_t idle = 0;

    // One minute: counts it when the application was active, then raises each block counter by
    // one when the active minutes are past the first block and, divided by the block, past the
    // counter. From a block's second minute on, the counter counts that block as begun.
    UsageMinutes tick(bool isActive, std::uint64_t secondsIdle) const;

    // Registers the four counters with 0, so a fresh user reads 0.
    static void registerDefaults(UserDefaults& defaults);
    static UsageMinutes read(const UserDefaults& defaults);
    void write(UserDefaults& defaults) const;

    friend bool operator==(const UsageMinutes&, const UsageMinutes&) = default;
};

} // namespace kx
