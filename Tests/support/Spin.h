// Waiting in tests: turn the main loop until a condition holds or a time-out passes.
#pragma once

#include <chrono>
#include <functional>

namespace kxtest {

// Iterates the default main context until `predicate` is true; false on time-out.
bool spinUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Iterates the default main context for the given time, for "nothing more arrives" checks.
void spinFor(std::chrono::milliseconds duration);

} // namespace kxtest
