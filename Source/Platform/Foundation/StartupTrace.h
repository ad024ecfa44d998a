// Marks of the process's start for whoever measures it: when KORVEL_X_STARTUP_TRACE names a
// file, each mark appends one line "<microseconds of the monotonic clock> <name>" to it. The
// clock is the one every process of the machine shares, so a program that started this one
// can set the marks beside its own times. Without the variable a mark costs one branch.
#pragma once

#include <string_view>

namespace kx::StartupTrace {

inline constexpr const char* variable = "KORVEL_X_STARTUP_TRACE";

// Any thread. A name of more than 200 bytes is cut there; line ends in it become spaces.
void mark(std::string_view name);

} // namespace kx::StartupTrace
