#include "App/server/ByteRange.h"

#include <gtest/gtest.h>

namespace {

using kx::ByteRange;
using Kind = ByteRange::Kind;

TEST(ByteRange, SelectsWhatRfc9110Says)
{
    const ByteRange whole;
    const ByteRange unsatisfiable{Kind::unsatisfiable, 0, 0};
    struct Case {
        const char* header;
        ByteRange expected;
    };
    const Case cases[] = {
        {"bytes=2-5", {Kind::partial, 2, 4}},
        {"bytes=2-", {Kind::partial, 2, 18}},
        {"bytes=15-100", {Kind::partial, 15, 5}},
        {"bytes=-3", {Kind::partial, 17, 3}},
        // A suffix longer than the file is the whole file, in part form.
        {"bytes=-100", {Kind::partial, 0, 20}},
        {"bytes=-18446744073709551616", {Kind::partial, 0, 20}},
        {"bytes=-99999999999999999999999999", {Kind::partial, 0, 20}},
        {"bytes=0-18446744073709551616", {Kind::partial, 0, 20}},
        {"Bytes=1-1", {Kind::partial, 1, 1}},
        {" bytes=1-1 ,", {Kind::partial, 1, 1}},
        {"bytes=20-", unsatisfiable},
        {"bytes=18446744073709551615-", unsatisfiable},
        {"bytes=18446744073709551616-", unsatisfiable},
        {"bytes=-0", unsatisfiable},
        // Malformed, another unit, several ranges: ignored.
        {"bytes=5-2", whole},
        {"bytes=abc", whole},
        {"bytes=1", whole},
        {"bytes=-", whole},
        {"bytes=+1-2", whole},
        {"bytes= 1-2", {Kind::partial, 1, 2}},
        {"bytes=0x1-2", whole},
        {"items=0-1", whole},
        {"bytes=0-1,4-5", whole},
        {"bytes", whole},
        {"", whole},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ByteRange::select(c.header, 20), c.expected) << c.header;

    // An empty file has no part to give.
    EXPECT_EQ(ByteRange::select("bytes=-5", 0), whole);
    EXPECT_EQ(ByteRange::select("bytes=0-0", 0), whole);
}

} // namespace
