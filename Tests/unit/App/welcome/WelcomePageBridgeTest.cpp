// The start page's requests handled against a fake page, a fake tracker and fake experiments.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "App/welcome/WelcomePageBridge.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/TestPaths.h"

using kx::WelcomePageBridge;
using nlohmann::json;

namespace {

class FakePage : public ::testing::Test {
protected:
    FakePage()
    {
        WelcomePageBridge::Environment environment;
        environment.track = [this](const std::string& event, const json& data) { events.push_back({event, data}); };
        environment.selections = [this] { return selections; };
        environment.openURL = [this](const std::string& url) {
            opened.push_back(url);
            return true;
        };
        environment.openExample = [this](const std::string& name, WelcomePageBridge::Completion done) {
            examples.push_back(name);
            pending = std::move(done);
        };
        environment.openTutorial = [this](const std::string& name, WelcomePageBridge::Completion done) {
            tutorials.push_back(name);
            pending = std::move(done);
        };
        environment.defaults = &defaults;
        bridge = std::make_unique<WelcomePageBridge>(
            environment, [this](std::string script) { scripts.push_back(std::move(script)); }, [this] { ++closes; });
    }

    kxtest::TemporaryDirectory folder;
    kx::UserDefaults defaults{folder / "defaults.json"};
    std::map<std::string, std::string> selections;
    std::vector<std::pair<std::string, json>> events;
    std::vector<std::string> opened;
    std::vector<std::string> examples;
    std::vector<std::string> tutorials;
    std::vector<std::string> scripts;
    WelcomePageBridge::Completion pending;
    int closes = 0;
    std::unique_ptr<WelcomePageBridge> bridge;
};

} // namespace

TEST_F(FakePage, TheHandshakeAnswersWithTheExperimentsAndTheDismissedBanner)
{
    bridge->handleBridgeMethod("ready", json::object());
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0], R"(window._setABtests && window._setABtests({}, {"dismissedTutorialCTA":false}))");

    bridge->handleBridgeMethod("dismissTutorialCta", json::object());
    EXPECT_TRUE(defaults.boolForKey("UserDefaultsDismissedTutorialCTA"));
    EXPECT_EQ(scripts.size(), 1u); // the page learns it at its next "ready"
    selections = {{"welcomeWindowSketch", "sketch"}, {"other", "a \"quoted\" variant"}};
    bridge->handleBridgeMethod("ready", nullptr);
    EXPECT_EQ(scripts.back(), R"(window._setABtests && window._setABtests({"other":"a \"quoted\" variant","welcomeWindowSketch":"sketch"}, {"dismissedTutorialCTA":true}))");
}

TEST_F(FakePage, PageFunctionsGetNullForAnArgumentWithoutJSONForm)
{
    EXPECT_EQ(WelcomePageBridge::ipcCallScript("f", {}), "window.f && window.f()");
    EXPECT_EQ(WelcomePageBridge::ipcCallScript("f", {json(1), std::nullopt, json(std::nan("")), json("</script>")}),
              R"(window.f && window.f(1, null, null, "</script>"))");
}

TEST_F(FakePage, InteractionsAndExperimentReportsAreTrackedOnlyWithTextArguments)
{
    bridge->handleBridgeMethod("metricsUIInteraction", "example-landing");
    bridge->handleBridgeMethod("metricsUIInteraction", 12);
    bridge->handleBridgeMethod("metricsUIInteraction", json::object());
    bridge->handleBridgeMethod("abTestShown", "welcomeWindowSketch"); // no selection: nothing
    selections = {{"welcomeWindowSketch", "control"}};
    bridge->handleBridgeMethod("abTestShown", "welcomeWindowSketch");
    bridge->handleBridgeMethod("abTestShown", json::array());
    bridge->reportExperimentShown();
    bridge->handleBridgeMethod("close", "anything");
    bridge->handleBridgeMethod("", nullptr);

    const std::vector<std::pair<std::string, json>> expected{
        {"ui_interaction", {{"id", "example-landing"}, {"page", "welcome-window"}}},
        {"ab_test_shown", {{"testName", "welcomeWindowSketch"}, {"testGroup", "control"}}},
        {"ab_test_shown", {{"testName", "welcomeWindowSketch"}, {"testGroup", "control"}}},
    };
    EXPECT_EQ(events, expected);
    EXPECT_TRUE(scripts.empty());
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(closes, 0);
}

TEST_F(FakePage, OnlyWebAndMailLinksReachTheDesktop)
{
    for (const char* link : {"https://korvel.com/docs/", "HTTP://example.com/a?b=file:///etc", "mailto:support@korvel.com"})
        bridge->handleBridgeMethod("link", link);
    for (const char* link : {"", "file:///etc/passwd", "korvel-x://login?fut=secret", "javascript:alert(1)",
                             "data:text/html,hi", "smb://server/share", "ftp://example.com/", "/etc/passwd",
                             "not a link", "https://exa mple.com/"})
        bridge->handleBridgeMethod("link", link);
    bridge->handleBridgeMethod("link", 42);
    EXPECT_EQ(opened, (std::vector<std::string>{"https://korvel.com/docs/", "HTTP://example.com/a?b=file:///etc",
                                                "mailto:support@korvel.com"}));
}

TEST_F(FakePage, AnExampleOrTutorialThatOpenedClosesTheWindow)
{
    bridge->handleBridgeMethod("openExample", 3);
    bridge->handleBridgeMethod("openTutorial", nullptr);
    EXPECT_TRUE(examples.empty());
    EXPECT_TRUE(tutorials.empty());

    bridge->handleBridgeMethod("openExample", "example-landing.korvelx");
    ASSERT_EQ(examples, std::vector<std::string>{"example-landing.korvelx"});
    pending(kx::Error("KVDocumentErrorDomain", 1, "no"));
    EXPECT_EQ(closes, 0);
    bridge->handleBridgeMethod("openExample", "example-landing");
    pending(std::nullopt);
    EXPECT_EQ(closes, 1);

    bridge->handleBridgeMethod("openTutorial", "getting-started");
    EXPECT_EQ(tutorials, std::vector<std::string>{"getting-started"});
    pending(std::nullopt);
    EXPECT_EQ(closes, 2);

    // A tutorial that opens after the window went closes nothing.
    bridge->handleBridgeMethod("openTutorial", "getting-started");
    auto late = std::move(pending);
    bridge.reset();
    late(std::nullopt);
    EXPECT_EQ(closes, 2);
}

TEST(WelcomePageBridgeNames, ExtensionsAndDisplayNames)
{
    EXPECT_EQ(WelcomePageBridge::deletingPathExtension("example-landing.korvelx"), "example-landing");
    EXPECT_EQ(WelcomePageBridge::deletingPathExtension("example-landing"), "example-landing");
    EXPECT_EQ(WelcomePageBridge::deletingPathExtension("a.b.c"), "a.b");
    EXPECT_EQ(WelcomePageBridge::deletingPathExtension(".hidden"), ".hidden");
    EXPECT_EQ(WelcomePageBridge::deletingPathExtension("dir.x/name"), "dir.x/name");

    EXPECT_EQ(WelcomePageBridge::exampleDisplayName("example-landing"), "Landing example");
    EXPECT_EQ(WelcomePageBridge::exampleDisplayName("my example-shop"), "My Shop example");
    EXPECT_EQ(WelcomePageBridge::exampleDisplayName("DASHBOARD two"), "Dashboard Two example");
    EXPECT_EQ(WelcomePageBridge::capitalized("élan vital"), "Élan Vital");
    EXPECT_EQ(WelcomePageBridge::capitalized("mobile-app"), "Mobile-app");
    EXPECT_EQ(WelcomePageBridge::capitalized(std::string("\xff\xfe")), std::string("\xff\xfe"));
}
