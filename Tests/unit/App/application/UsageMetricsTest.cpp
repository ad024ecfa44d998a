// The launch's defaults and the data-collection switch, and the machine model.
#include <gtest/gtest.h>

#include "App/account/PDGoogleAnalytics.h"
#include "App/application/UsageMetrics.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/TestPaths.h"

using kx::UsageMetrics;

namespace {

kx::Bundle bundleWith(const std::filesystem::path& resources, nlohmann::json info)
{
    return kx::Bundle(resources, std::move(info));
}

} // namespace

TEST(UsageMetrics, SetUpDefaultsRegistersTheShippedDefaultsAndForgetsTheCloseSetting)
{
    kxtest::TemporaryDirectory folder;
    kx::FileSystem::atomicWrite(folder / "DefaultPreferences.json", R"({"WelcomeWindowShowOnStartup": true, "Shipped": 4})");
    kx::UserDefaults defaults(folder / "defaults.json");
    defaults.setBool(UsageMetrics::closeAlwaysConfirmsChangesKey, true);
    UsageMetrics::setUpDefaults(bundleWith(folder.path(), {{"CFBundleIdentifier", "com.korvel.x"}}), defaults);
    EXPECT_EQ(defaults.integerForKey("Shipped"), 4);
    EXPECT_TRUE(defaults.objectForKey(UsageMetrics::closeAlwaysConfirmsChangesKey).is_null());
    EXPECT_FALSE(defaults.boolForKey(UsageMetrics::dataCollectionDisabledKey));

    // A damaged file registers nothing and stops nothing.
    kx::FileSystem::atomicWrite(folder / "DefaultPreferences.json", "{\"Shipped\": ");
    kx::UserDefaults other(folder / "other.json");
    UsageMetrics::setUpDefaults(bundleWith(folder.path(), {}), other);
    EXPECT_TRUE(other.objectForKey("Shipped").is_null());
}

TEST(UsageMetrics, ABuildShippedWithoutDataCollectionNeverReports)
{
    kxtest::TemporaryDirectory folder;
    kx::UserDefaults defaults(folder / "defaults.json");
    const auto bundle = bundleWith(folder.path(), {{UsageMetrics::dataCollectionDisabledKey, true}});
    // Metrics are set up before the defaults: the bundle alone must already switch them off.
    EXPECT_TRUE(UsageMetrics::isDataCollectionDisabled(bundle, defaults));
    kx::PDGoogleAnalytics analytics(defaults);
    bool firstLaunch = false;
    UsageMetrics::setUpMetrics(analytics, bundle, defaults, [&] { firstLaunch = true; }, [] { return true; });
    EXPECT_FALSE(analytics.isEnabled());
    EXPECT_FALSE(firstLaunch);
    // The first launch with collection on later still counts as the first.
    EXPECT_FALSE(defaults.boolForKey("PDRunOnce.firstlaunch"));

    UsageMetrics::setUpDefaults(bundle, defaults);
    EXPECT_TRUE(defaults.boolForKey(UsageMetrics::dataCollectionDisabledKey));
    kx::UserDefaults reread(folder / "defaults.json");
    defaults.synchronize();
    EXPECT_TRUE(reread.boolForKey(UsageMetrics::dataCollectionDisabledKey));
}

TEST(UsageMetrics, TheUsersOwnSwitchCountsToo)
{
    kxtest::TemporaryDirectory folder;
    kx::UserDefaults defaults(folder / "defaults.json");
    const auto bundle = bundleWith(folder.path(), {});
    EXPECT_FALSE(UsageMetrics::isDataCollectionDisabled(bundle, defaults));
    defaults.setBool(UsageMetrics::dataCollectionDisabledKey, true);
    EXPECT_TRUE(UsageMetrics::isDataCollectionDisabled(bundle, defaults));
}

TEST(UsageMetrics, DeviceModelComesFromTheFirmwareTableElseTheKernel)
{
    kxtest::TemporaryDirectory dmi;
    kx::FileSystem::atomicWrite(dmi / "sys_vendor", "  Example Computers \n");
    kx::FileSystem::atomicWrite(dmi / "product_name", "Model\x01 7\n");
    EXPECT_EQ(UsageMetrics::deviceModel(dmi.path()), "Example Computers Model 7");

    kxtest::TemporaryDirectory empty;
    kx::FileSystem::atomicWrite(empty / "sys_vendor", "\n");
    const std::string model = UsageMetrics::deviceModel(empty.path());
    EXPECT_FALSE(model.empty());
    EXPECT_EQ(model.find('\n'), std::string::npos);
}
