// Dates as the documents write them. Patterns use the letters y M d H m s S with literal text
// in single quotes ('T', 'Z'); "SSS" is milliseconds, "SSSS" ten-thousandths.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kx::DateFormat {

using Clock = std::chrono::system_clock;

// The manifests', containers' and user record's format, always in UTC.
inline constexpr std::string_view iso8601Pattern = "yyyy'-'MM'-'dd'T'HH':'mm':'ss'.'SSS'Z'";
// The project log's line time, in local time.
inline constexpr std::string_view logPattern = "yyyy-MM-dd HH:mm:ss.SSSS";

enum class Zone { utc, local };

std::string format(Clock::time_point time, std::string_view pattern, Zone zone);
// Parses text written with `pattern`; nullopt when it does not match exactly.
std::optional<Clock::time_point> parse(std::string_view text, std::string_view pattern, Zone zone);

inline std::string iso8601(Clock::time_point time) { return format(time, iso8601Pattern, Zone::utc); }
inline std::optional<Clock::time_point> parseIso8601(std::string_view text)
{
    return parse(text, iso8601Pattern, Zone::utc);
}

} // namespace kx::DateFormat
