// What each link of the application's scheme asks for.
#include <gtest/gtest.h>

#include "App/application/PDApplication.h"
#include "App/application/URLEvent.h"

using Kind = kx::URLEvent::Kind;
using kx::URLEvent;

TEST(URLEvent, StoreLinksOpenTheStoreOnlyForASignedInUser)
{
    EXPECT_EQ(URLEvent::kindOf("korvel-x://store/package/abc?x=1", true), Kind::storeLink);
    // Signed out, the same link may carry a token: it is a login link.
    EXPECT_EQ(URLEvent::kindOf("korvel-x://store/package/abc", false), Kind::loginLink);
    EXPECT_EQ(URLEvent::kindOf("korvel-x://store/packages", true), Kind::loginLink);
}

TEST(URLEvent, TheBareSchemeActivatesAndEveryOtherLinkOfItSignsIn)
{
    EXPECT_EQ(URLEvent::kindOf("korvel-x://", true), Kind::activate);
    EXPECT_EQ(URLEvent::kindOf("korvel-x://", false), Kind::activate);
    EXPECT_EQ(URLEvent::kindOf("korvel-x://login?fut=abc", false), Kind::loginLink);
    EXPECT_EQ(URLEvent::kindOf("korvel-x://login?fut=abc", true), Kind::loginLink);
    EXPECT_EQ(URLEvent::kindOf("korvel-x:///", true), Kind::loginLink);
}

TEST(URLEvent, LinksOfOtherSchemesAreNotOurs)
{
    for (const char* url : {"", "korvel-x:", "korvel-x:/", "KORVEL-X://", "https://korvel.com/", "file:///tmp/a.korvelx",
                            "korvel://store/package/a"})
        EXPECT_EQ(URLEvent::kindOf(url, true), Kind::ignored) << url;
}

TEST(PDApplication, TheFirstUserConfigChangeRunsTheSetUpOnce)
{
    int runs = 0;
    const int sender = 0;
    auto token = kx::PDApplication::observeOnce("UserConfigChangedNotification", &sender, [&] {
        ++runs;
        // A post from inside the set-up does not run it again.
        kx::NotificationCenter::defaultCenter().post("UserConfigChangedNotification", &sender);
    });
    kx::NotificationCenter::defaultCenter().post("UserConfigChangedNotification", nullptr);
    kx::NotificationCenter::defaultCenter().post("UserConfigChangedNotification", &runs);
    EXPECT_EQ(runs, 0);
    kx::NotificationCenter::defaultCenter().post("UserConfigChangedNotification", &sender);
    kx::NotificationCenter::defaultCenter().post("UserConfigChangedNotification", &sender);
    EXPECT_EQ(runs, 1);
}
