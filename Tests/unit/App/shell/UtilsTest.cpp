#include <gtest/gtest.h>

#include <regex>

#include "App/shell/CurrentHost.h"
#include "App/shell/Math.h"
#include "App/shell/Utils.h"

TEST(Utils, IntToAZIsBijectiveBase26FromZero)
{
    const std::pair<std::int64_t, const char*> cases[] = {{0, "A"},   {25, "Z"},   {26, "AA"},  {51, "AZ"},
                                                         {52, "BA"}, {701, "ZZ"}, {702, "AAA"}, {-1, ""}};
    for (const auto& [n, letters] : cases)
        EXPECT_EQ(kx::Utils::intToAZ(n), letters) << n;
    EXPECT_EQ(kx::Utils::intToAZ(INT64_MAX), "CRPXNLSKVLJFHH");
}

TEST(Utils, ModulateMapsDistancesLinearly)
{
    const double from[] = {12, 36}, to[] = {0, 1}, reversed[] = {1, 0}, one[] = {5};
    EXPECT_FLOAT_EQ(kx::Math::modulate(24, from, to, false), 0.5f);
    EXPECT_FLOAT_EQ(kx::Math::modulate(48, from, to, true), 1.0f);
    EXPECT_FLOAT_EQ(kx::Math::modulate(48, from, to, false), 1.5f);
    EXPECT_FLOAT_EQ(kx::Math::modulate(6, from, to, false), 0.25f); // distance, not direction
    EXPECT_FLOAT_EQ(kx::Math::modulate(24, from, reversed, false), 1.5f);
    EXPECT_FLOAT_EQ(kx::Math::modulate(24, from, reversed, true), 1.0f);
    EXPECT_FLOAT_EQ(kx::Math::modulate(7, one, to, true), 7.0f);
    const double empty[] = {3, 3};
    EXPECT_FLOAT_EQ(kx::Math::modulate(7, empty, to, false), 0.0f);
}

TEST(Utils, IPv4AddressesAreDottedAndNotLoopback)
{
    const std::regex dotted(R"((\d{1,3})\.\d{1,3}\.\d{1,3}\.\d{1,3})");
    for (const std::string& address : kx::CurrentHost::IPv4Addresses()) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(address, match, dotted)) << address;
        EXPECT_NE(match[1], "127");
    }
}
