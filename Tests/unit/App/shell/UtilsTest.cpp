#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

TEST(CurrentHost, IPv4AddressesAreThoseOfInterfacesUpAndRunningButNotLoopback)
{
    struct Interface {
        const char* name;
        unsigned flags;
        int family;
        const char* address;
    };
    const Interface interfaces[] = {
        {"lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK, AF_INET, "127.0.0.1"},
        {"eth0", IFF_UP | IFF_RUNNING, AF_INET, "192.168.1.20"},
        {"eth0", IFF_UP | IFF_RUNNING, AF_INET6, "fe80::1"},
        {"eth1", IFF_UP, AF_INET, "10.0.0.5"},         // no link
        {"eth2", IFF_RUNNING, AF_INET, "10.0.0.6"},    // switched off
        {"tun0", IFF_UP | IFF_RUNNING, AF_INET, nullptr}, // no address
        {"wlan0", IFF_UP | IFF_RUNNING | IFF_BROADCAST, AF_INET, "10.1.2.3"},
        {"eth0", IFF_UP | IFF_RUNNING, AF_INET, "192.168.1.20"}, // listed twice by the system
    };
    constexpr std::size_t count = std::size(interfaces);
    std::vector<sockaddr_storage> addresses(count);
    std::vector<ifaddrs> list(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Interface& interface = interfaces[i];
        list[i] = ifaddrs{};
        list[i].ifa_next = i + 1 < count ? &list[i + 1] : nullptr;
        list[i].ifa_name = const_cast<char*>(interface.name);
        list[i].ifa_flags = interface.flags;
        if (!interface.address)
            continue;
        addresses[i] = sockaddr_storage{};
        if (interface.family == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&addresses[i]);
            in->sin_family = AF_INET;
            ASSERT_EQ(inet_pton(AF_INET, interface.address, &in->sin_addr), 1);
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&addresses[i]);
            in6->sin6_family = AF_INET6;
            ASSERT_EQ(inet_pton(AF_INET6, interface.address, &in6->sin6_addr), 1);
        }
        list[i].ifa_addr = reinterpret_cast<sockaddr*>(&addresses[i]);
    }
    const std::vector<std::string> expected = {"192.168.1.20", "10.1.2.3", "192.168.1.20"};
    EXPECT_EQ(kx::CurrentHost::IPv4Addresses(list.data()), expected);
    EXPECT_TRUE(kx::CurrentHost::IPv4Addresses(nullptr).empty());

    // This machine's own list has the same form (and may be empty where only loopback exists).
    const std::regex dotted(R"((\d{1,3})\.\d{1,3}\.\d{1,3}\.\d{1,3})");
    for (const std::string& address : kx::CurrentHost::IPv4Addresses()) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(address, match, dotted)) << address;
        EXPECT_NE(match[1], "127");
    }
}
