// The back-end environments and what the enterprise domain and the local back end may be.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "App/account/AppServices.h"
#include "support/ScopedSetting.h"

using kx::AppServices;
using kxtest::ScopedSetting;

TEST(AppServices, TheLocalEnvironmentServesEverythingFromTheStandIn)
{
    ScopedSetting environment(AppServices::environmentVariable, "local");
    ScopedSetting backend(AppServices::localBackendVariable, "http://127.0.0.1:5123");
    const auto local = AppServices::currentEnvironment();
    EXPECT_EQ(local.name, "local");
    EXPECT_EQ(AppServices::userRecordURL(), "http://127.0.0.1:5123/api/studio/me");
    EXPECT_EQ(local.endpoints.tracking, "http://127.0.0.1:5123/track");
    EXPECT_EQ(AppServices::updatesFeedURL(), "http://127.0.0.1:5123/appcast.xml");
    EXPECT_EQ(AppServices::accountDashboardURL(), "http://127.0.0.1:5123/dashboard");
    EXPECT_EQ(AppServices::loginURL("a b&c"), "http://127.0.0.1:5123/login?mid=a%20b%26c");
    EXPECT_EQ(nlohmann::json::parse(AppServices::endpointsJSON()),
              nlohmann::json({{"api", "http://127.0.0.1:5123/api/"},
                              {"publicStore", "http://127.0.0.1:5123/store/"},
                              {"privateStore", "http://127.0.0.1:5123/private-store/"},
                              {"tracking", "http://127.0.0.1:5123/track"}}));
}

TEST(AppServices, TheLocalBackEndStaysOnThisMachine)
{
    ScopedSetting environment(AppServices::environmentVariable, "local");
    for (const char* url : {"http://evil.example/", "https://127.0.0.1:5123/", "http://user:pw@127.0.0.1:1/",
                            "http://127.0.0.1.evil.example/", "file:///etc/passwd", "not a url"}) {
        ScopedSetting backend(AppServices::localBackendVariable, url);
        // (Built in place: GCC 12 warns falsely about the bounds of a concatenated temporary.)
        std::string api = AppServices::defaultLocalBackend;
        api += "api/";
        EXPECT_EQ(AppServices::currentEndpoints().api, api) << url;
    }
    ScopedSetting backend(AppServices::localBackendVariable, "http://localhost:9/");
    EXPECT_EQ(AppServices::currentEndpoints().api, "http://localhost:9/api/");
}

TEST(AppServices, ProductionIsTheDefaultAndUnknownNamesAreRefused)
{
    ScopedSetting environment(AppServices::environmentVariable, "no-such-environment");
    const auto current = AppServices::currentEnvironment();
    EXPECT_EQ(current.name, "production");
    EXPECT_EQ(current.endpoints.api, "https://api.korvel.com/");
    EXPECT_EQ(AppServices::updatesFeedURL(), "https://updates.korvel.com/appcast.xml");
    EXPECT_FALSE(AppServices::setCurrentEnvironment("no-such-environment"));
    ASSERT_EQ(AppServices::environments().size(), 3u);
    EXPECT_EQ(AppServices::environments()[1].endpoints.privateStore, "https://private-store.staging.korvel.com/");
}

TEST(AppServices, AnEnterpriseDomainIsAHostNameAndNothingMore)
{
    auto remote = AppServices::enterpriseEnvironment("Korvel.Example.com");
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->endpoints.api, "https://korvel.example.com/api/");
    EXPECT_FALSE(remote->updatesFeed.has_value());
    EXPECT_EQ(AppServices::enterpriseDetectURL("korvel.example.com:8443"), "https://korvel.example.com:8443/detect.txt");
    EXPECT_EQ(AppServices::enterpriseDetectURL("127.0.0.1:4780"), "http://127.0.0.1:4780/detect.txt");
    for (const char* domain : {"", "a/b", "user@host", "host:0", "host:99999", "host:", "host:12a", "-host", ".host",
                               "host?x=1", "host#x", "ho st", "http://host", "host\n"}) {
        EXPECT_FALSE(AppServices::enterpriseEnvironment(domain)) << domain;
    }
    EXPECT_FALSE(AppServices::enterpriseEnvironment(std::string(254, 'a')));
}
