#include "App/application/UsageMinutes.h"

#include <algorithm>

namespace kx {

UsageMinutes UsageMinutes::tick(bool isActive, std::uint64_t secondsIdle) const
{
    UsageMinutes next = *this;
    if (isActive) {
        ++next.active;
        if (secondsIdle >= idleSeconds)
            ++next.idle;
    }
    // One step a tick at most, with strict comparisons: nothing at 10 active minutes, the first
    // block of ten at 11, the second at 12 (1.2 > 1). A count that fell behind catches up one
    // a minute; one that ran ahead waits.
    const double minutes = double(next.active);
    if (minutes > 10.0 && minutes / 10.0 > double(next.active10))
        ++next.active10;
    if (minutes > 60.0 && minutes / 60.0 > double(next.active60))
        ++next.active60;
    return next;
}

void UsageMinutes::registerDefaults(UserDefaults& defaults)
{
    defaults.registerDefaults({{activeKey, 0}, {active10Key, 0}, {active60Key, 0}, {idleKey, 0}});
}

UsageMinutes UsageMinutes::read(const UserDefaults& defaults)
{
    // A stored value that is no count (negative, from a damaged file) counts from 0.
    auto count = [&defaults](const char* key) { return std::max<std::int64_t>(0, defaults.integerForKey(key)); };
    return UsageMinutes{count(activeKey), count(active10Key), count(active60Key), count(idleKey)};
}

void UsageMinutes::write(UserDefaults& defaults) const
{
    defaults.setInteger(activeKey, active);
    defaults.setInteger(active10Key, active10);
    defaults.setInteger(active60Key, active60);
    defaults.setInteger(idleKey, idle);
}

} // namespace kx
