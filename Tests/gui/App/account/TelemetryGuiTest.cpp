// Usage events and analytics through the hidden telemetry page, as the stand-in receives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>

#include <webkit2/webkit2.h>

#include "AccountTestEnvironment.h"
#include "App/account/KorvelTracking.h"
#include "App/account/LoginController.h"
#include "App/account/MachineIdentifier.h"
#include "App/account/PDGoogleAnalytics.h"
#include "App/account/LoginWindow.h"
#include "App/account/TelemetryPage.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/Spin.h"

using kx::KorvelTracking;
using kx::PDGoogleAnalytics;
using kxtest::AccountTestEnvironment;
using kxtest::spinUntil;
using json = nlohmann::json;

namespace {

class TelemetryGui : public ::testing::Test {
protected:
    void SetUp() override { AccountTestEnvironment::reset(); }
    void TearDown() override { AccountTestEnvironment::reset(); }

    static kxtest::StandInBackend& backend() { return AccountTestEnvironment::backend(); }
    static kx::UserDefaults& defaults() { return kx::UserDefaults::standard(); }

    // The recorded entry of that event (or "identify"); null when none.
    static json entry(const std::string& name)
    {
        for (const auto& entry : backend().recorded("track")) {
            if (entry.value("event", entry.value("type", std::string())) == name)
                return entry;
        }
        return nullptr;
    }
    static json recordedEvents()
    {
        json names = json::array();
        for (const auto& entry : backend().recorded("track"))
            names.push_back(entry.value("event", entry.value("type", std::string())));
        return names;
    }
    // Waits until `marker` (sent after the others) arrives, and a little more for stragglers.
    static json eventsUpTo(const std::string& marker)
    {
        KorvelTracking::shared().track(marker, json::object());
        EXPECT_TRUE(spinUntil(
            [&] {
                const auto events = recordedEvents();
                return std::find(events.begin(), events.end(), marker) != events.end();
            },
            kxtest::accountPageTimeout));
        kxtest::spinFor(std::chrono::milliseconds(300));
        auto events = recordedEvents();
        std::sort(events.begin(), events.end()); // requests may overtake each other
        return events;
    }
    // The hits received, by action (the page's requests may overtake each other).
    static std::map<std::string, json> analyticsHits(size_t count)
    {
        EXPECT_TRUE(spinUntil([&] { return backend().recorded("collect").size() >= count; }, kxtest::accountPageTimeout));
        kxtest::spinFor(std::chrono::milliseconds(300));
        std::map<std::string, json> hits;
        for (const auto& hit : backend().recorded("collect"))
            hits[hit.value("ea", std::string())] = hit;
        return hits;
    }
};

} // namespace

TEST_F(TelemetryGui, EventsGoToTrackWithTheUserAndTheMachine)
{
    // The first events may be queued while the page loads; they still arrive, in order.
    KorvelTracking::shared().track("launch_first", json::object());
    KorvelTracking::shared().track("launch", {{"n", 1}});
    EXPECT_TRUE(kx::TelemetryPage::shared().isLoaded() || kx::TelemetryPage::shared().queuedCount() > 0);
    ASSERT_TRUE(spinUntil([&] { return backend().recorded("track").size() == 2; }, kxtest::accountPageTimeout));
    EXPECT_FALSE(entry("launch_first").is_null());
    const auto launch = entry("launch");
    EXPECT_EQ(launch["data"], json({{"n", 1}}));
    EXPECT_EQ(launch["userId"], nullptr);
    EXPECT_EQ(launch["anonymousId"], kx::MachineIdentifier::current());
    EXPECT_EQ(launch["context"]["environment"], "local");

    const auto id = AccountTestEnvironment::signInFreshUser();
    KorvelTracking::shared().identifyWithUserId(id, json::object());
    KorvelTracking::shared().track("ui_interaction", {{"id", "intercom"}, {"page", "top-right-menu-bar"}});
    ASSERT_TRUE(spinUntil([&] { return backend().recorded("track").size() == 4; }, kxtest::accountPageTimeout));
    EXPECT_EQ(entry("identify")["userId"], id);
    EXPECT_EQ(entry("ui_interaction")["userId"], id);
    EXPECT_EQ(entry("ui_interaction")["data"]["page"], "top-right-menu-bar");
}

TEST_F(TelemetryGui, SwitchesSuppressEventsAndDataCollectionOffLeavesOnlyActiveOnes)
{
    defaults().setBool(KorvelTracking::trackingDisabledKey, true);
    KorvelTracking::shared().track("launch", json::object());
    KorvelTracking::shared().track("active_minute", json::object());
    defaults().removeObject(KorvelTracking::trackingDisabledKey);

    defaults().setBool(KorvelTracking::dataCollectionDisabledKey, true);
    KorvelTracking::shared().track("app_save_project", json::object());
    KorvelTracking::shared().track("active_minute", json::object());
    KorvelTracking::shared().identifyWithUserId("u1", json::object());
    defaults().removeObject(KorvelTracking::dataCollectionDisabledKey);

    EXPECT_EQ(eventsUpTo("marker"), json({"active_minute", "marker"}));
}

TEST_F(TelemetryGui, TheTokenNeverTravelsInAnEvent)
{
    AccountTestEnvironment::signInFreshUser();
    const std::string token = *kx::LoginController::shared().token();
    KorvelTracking::shared().track("leaky", {{"value", "Token " + token}, {token, {1, token}}, {"fine", "text"}});
    eventsUpTo("marker");
    const auto recorded = backend().recorded("track");
    EXPECT_EQ(entry("leaky")["data"], json({{"value", "<hidden>"}, {"<hidden>", {1, "<hidden>"}}, {"fine", "text"}}));
    EXPECT_EQ(recorded.dump().find(token), std::string::npos);
}

TEST_F(TelemetryGui, AnalyticsSplitsNamesAndQueuesUntilConfigured)
{
    PDGoogleAnalytics analytics(defaults());
    analytics.trackEvent("app|start", std::nullopt);
    analytics.trackEvent("app.launch.first", std::nullopt);
    analytics.trackEvent("export|png|retina", 3.0);
    analytics.trackEvent("a|b|c|d", 1.0);
    analytics.trackEvent("menu|open", 2.5);
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(backend().recorded("collect").empty()); // no site id yet

    analytics.configureWithSiteId("UA-52918364-7");
    auto hits = analyticsHits(3);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits["start"], json({{"t", "event"}, {"ec", "app"}, {"ea", "start"}, {"v", 1}, {"tid", "UA-52918364-7"},
                                   {"cid", kx::MachineIdentifier::current()}}));
    EXPECT_EQ(hits["png"]["el"], "retina");
    EXPECT_EQ(hits["png"]["ev"], 3.0);
    EXPECT_EQ(hits["open"]["ev"], 2.5);
    EXPECT_FALSE(hits["open"].contains("el"));

    analytics.setEnabled(false);
    analytics.trackEvent("app|quiet", std::nullopt);
    analytics.setEnabled(true);
    analytics.trackEvent("app|loud", std::nullopt);
    auto later = analyticsHits(4);
    ASSERT_EQ(later.size(), 4u);
    EXPECT_TRUE(later.contains("loud"));
}

TEST_F(TelemetryGui, IntervalEventsGoOncePerIntervalAndOnlyWhileTheirConditionHolds)
{
    using namespace std::chrono;
    PDGoogleAnalytics analytics(defaults());
    analytics.configureWithSiteId("UA-52918364-7");
    const std::string key = std::string(PDGoogleAnalytics::intervalKeyPrefix) + "interval|daily";
    defaults().removeObject(key);
    defaults().removeObject(std::string(PDGoogleAnalytics::intervalKeyPrefix) + "interval.foreground|hour");

    analytics.trackEvent("interval|daily", seconds(86400), seconds(3600), nullptr);
    analytics.trackEvent("interval|daily", seconds(86400), seconds(3600), nullptr); // within the day
    analytics.trackEvent("interval.foreground|hour", seconds(3600), seconds(600), [] { return false; });
    ASSERT_EQ(analyticsHits(1).size(), 1u);
    const auto hits = backend().recorded("collect");
    EXPECT_EQ(hits[0]["ec"], "interval");
    EXPECT_EQ(hits[0]["ea"], "daily");
    const double sent = defaults().doubleForKey(key);
    EXPECT_NEAR(sent, duration<double>(system_clock::now().time_since_epoch()).count(), 60.0);
    EXPECT_TRUE(defaults().objectForKey(std::string(PDGoogleAnalytics::intervalKeyPrefix) + "interval.foreground|hour").is_null());

    // A day and a bit later it goes again; a clock set back does not silence it for good.
    defaults().setDouble(key, sent - 86401);
    analytics.trackEvent("interval|daily", seconds(86400), seconds(3600), nullptr);
    defaults().setDouble(key, sent + 1e6);
    analytics.trackEvent("interval|daily", seconds(86400), seconds(3600), nullptr);
    analyticsHits(3);
    EXPECT_EQ(backend().recorded("collect").size(), 3u);
}

// The hidden pages start no web process of their own: they join the login window's, and load
// only once its page has, so as not to hold it up.
TEST_F(TelemetryGui, HiddenPagesWaitForTheLoginPageWhoseProcessTheyShare)
{
    auto& login = kx::LoginController::shared();
    login.showLoginWindow();
    WebKitWebView* shared = kx::TelemetryPage::processToShare();
    ASSERT_NE(shared, nullptr);
    ASSERT_EQ(shared, login.loginWindow()->webViewController().webView().wkWebView());
    int runs = 0;
    bool loadingWhenRun = true;
    const auto asked = std::chrono::steady_clock::now();
    auto ranAfter = std::chrono::steady_clock::duration::zero();
    kx::TelemetryPage::afterSharedPageLoads([&] {
        ++runs;
        loadingWhenRun = webkit_web_view_is_loading(shared);
        ranAfter = std::chrono::steady_clock::now() - asked;
    });
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(spinUntil([&] { return runs > 0; }, kxtest::accountPageTimeout));
    // Or, on a machine too busy for the page to load in time, at the latest wait's end.
    EXPECT_TRUE(!loadingWhenRun || ranAfter >= kx::TelemetryPage::sharedPageWait)
        << "ran after " << std::chrono::duration_cast<std::chrono::milliseconds>(ranAfter).count() << " ms while the page loaded";
    // Once, whatever else the page loads later.
    webkit_web_view_reload(shared);
    kxtest::spinFor(std::chrono::milliseconds(500));
    EXPECT_EQ(runs, 1);
}
