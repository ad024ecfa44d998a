#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "Platform/Foundation/DateFormat.h"
#include "support/ScopedSetting.h"

using namespace kx::DateFormat;
using namespace std::chrono;

namespace {

// The process's time zone (nullptr: the system's), read again at once: localtime_r does not look
// at TZ by itself.
void setZone(const char* zone)
{
    zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
    tzset();
}

} // namespace

TEST(DateFormat, Iso8601InUtcWithMilliseconds)
{
    // 2021-03-04T05:06:07.089Z
    const Clock::time_point time = Clock::time_point(seconds(1614834367)) + microseconds(89'999);
    EXPECT_EQ(iso8601(time), "2021-03-04T05:06:07.089Z");
    auto parsed = parseIso8601("2021-03-04T05:06:07.089Z");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(duration_cast<milliseconds>(parsed->time_since_epoch()).count(), 1614834367089);
    EXPECT_EQ(iso8601(Clock::time_point(milliseconds(-1))), "1969-12-31T23:59:59.999Z");
}

TEST(DateFormat, RejectsTextThatDoesNotMatchExactly)
{
    for (const char* text : {"2021-03-04T05:06:07Z", "2021-03-04T05:06:07.089", "2021-13-04T05:06:07.089Z",
                             "2021-03-04T05:06:07.089Z ", "20x1-03-04T05:06:07.089Z", ""})
        EXPECT_FALSE(parseIso8601(text).has_value()) << text;
}

TEST(DateFormat, LogTimeHasTenThousandthsInLocalTime)
{
    kxtest::ScopedSetting zone(setZone, "UTC");
    const Clock::time_point time = Clock::time_point(seconds(1614834367)) + microseconds(123'456);
    EXPECT_EQ(format(time, logPattern, Zone::local), "2021-03-04 05:06:07.1234");
    setZone("Europe/Berlin");
    EXPECT_EQ(format(time, logPattern, Zone::local), "2021-03-04 06:06:07.1234");
    auto back = parse("2021-03-04 06:06:07.1234", logPattern, Zone::local);
    ASSERT_TRUE(back);
    EXPECT_EQ(duration_cast<microseconds>(back->time_since_epoch()).count(), 1614834367123400);
}
