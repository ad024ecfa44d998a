// The account as a user meets it in the running application: a login link that arrives while
// someone is signed in, answered from the keyboard, and the sign-in the next launch finds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/Spin.h"

using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::Clickable;
namespace Display = kxtest::Display;

namespace {

// The id of the signed-in user's record, as the application keeps it in its settings.
std::string signedInUserId(const ApplicationHome& home)
{
    const auto text = kx::FileSystem::readFile(home.config() / "com.korvel.x" / "defaults.json").value_or("");
    const auto defaults = nlohmann::json::parse(text, nullptr, false);
    if (!defaults.is_object() || !defaults.contains("PDUserInfo") || !defaults["PDUserInfo"].is_object())
        return {};
    const auto record = nlohmann::json::parse(defaults["PDUserInfo"].value("local", ""), nullptr, false);
    return record.is_object() ? record.value("id", "") : "";
}

// Hands `link` to the running application as the desktop does: through a second process.
void openLink(const ApplicationHome& home, ApplicationProcess& app, const std::string& link)
{
    const int before = app.count("handleURLEvent login");
    ApplicationProcess second(home, kxtest::applicationBackend().url(), {link});
    ASSERT_TRUE(second.launch());
    ASSERT_TRUE(second.waitForExit());
    ASSERT_TRUE(kxtest::spinUntil([&] { return app.count("handleURLEvent login") > before; }));
}

// The texts of the window that shows the button `button`.
std::vector<std::string> textsBeside(ApplicationProcess& app, const Clickable& button)
{
    std::vector<std::string> texts;
    for (const auto& item : app.clickables()) {
        if (item.kind == "text" && item.window == button.window)
            texts.push_back(item.name);
    }
    return texts;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& part)
{
    return std::any_of(texts.begin(), texts.end(), [&](const auto& text) { return text.find(part) != std::string::npos; });
}

} // namespace

TEST(ApplicationAccount, ALinkWhileSignedInNamesItsAccountAndOnlyADeliberatePressSignsIn)
{
    ApplicationHome home;
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    kxtest::signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(kxtest::startTitle); }, kxtest::windowTimeout));
    ASSERT_TRUE(kxtest::spinUntil([&] { return !signedInUserId(home).empty(); }));
    const std::string ada = signedInUserId(home);

    // A page the user visited opens a link of someone else's account.
    const std::string token = "kx_app_test_mallory_" + std::to_string(::getpid());
    kxtest::applicationBackend().registerToken(token, "user",
                                               {{"id", "u-mallory"}, {"name", "Mallory"}, {"email", "mallory@example.com"}});
    const std::string link = "korvel-x://login?fut=" + token;

    // Return, as a user who answers every question with it, and Escape keep the account.
    // Tab takes the focus to "Sign In", where Return still does not press it.
    for (const std::string keys : {"Return", "Escape", "Tab Return"}) {
        SCOPED_TRACE(keys);
        openLink(home, app, link);
        const auto signIn = app.waitForClickable("button", "(untitled)", "Sign In");
        ASSERT_TRUE(signIn);
        const auto texts = textsBeside(app, *signIn);
        EXPECT_TRUE(anyContains(texts, "Sign in with another account?"));
        EXPECT_TRUE(anyContains(texts, "sign in as \u201CMallory\u201D (mallory@example.com)."));
        EXPECT_TRUE(anyContains(texts, "You are signed in as \u201CAda\u201D."));
        ASSERT_TRUE(Display::focusWindowOf(*signIn));
        if (keys.starts_with("Tab "))
            Display::pressKey("Tab");
        Display::pressKey(keys.substr(keys.rfind(' ') + 1));
        // (An empty list is no answer: the start window's buttons are always there.)
        ASSERT_TRUE(kxtest::spinUntil([&] {
            const auto items = app.clickables();
            return !items.empty()
                && std::none_of(items.begin(), items.end(), [](const auto& item) { return item.kind == "button" && item.name == "Sign In"; });
        }));
        kxtest::spinFor(std::chrono::milliseconds(500));
        EXPECT_EQ(signedInUserId(home), ada);
    }

    // Tab to "Sign In" and Space: the account the question named.
    openLink(home, app, link);
    const auto signIn = app.waitForClickable("button", "(untitled)", "Sign In");
    ASSERT_TRUE(signIn);
    ASSERT_TRUE(Display::focusWindowOf(*signIn));
    Display::pressKey("Tab");
    Display::pressKey("space");
    EXPECT_TRUE(kxtest::spinUntil([&] { return signedInUserId(home) == "u-mallory"; }));
    EXPECT_FALSE(app.exited());

    // An ephemeral link's account lasts for the session, as the question says: the next
    // launch signs in with the sign-in kept before it.
    kxtest::applicationBackend().registerToken(token + "_eve", "user", {{"id", "u-eve"}, {"name", "Eve"}});
    openLink(home, app, link + "_eve&ephemeral=1");
    const auto ephemeral = app.waitForClickable("button", "(untitled)", "Sign In");
    ASSERT_TRUE(ephemeral);
    EXPECT_TRUE(anyContains(textsBeside(app, *ephemeral), "lasts until Korvel X quits; then your saved sign-in comes back."));
    const int shown = app.count("showWelcomeWindow");
    ASSERT_TRUE(Display::focusWindowOf(*ephemeral));
    Display::pressKey("Tab");
    Display::pressKey("space");
    ASSERT_TRUE(kxtest::spinUntil([&] { return app.count("showWelcomeWindow") > shown; }));
    ASSERT_TRUE(Display::focusWindow(kxtest::startTitle));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(kxtest::windowTimeout));
    ApplicationProcess again(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(again.launch());
    ASSERT_TRUE(again.waitForStep("userConfigChanged"));
    EXPECT_FALSE(again.hasStep("showLoginWindow"));
    EXPECT_EQ(signedInUserId(home), "u-mallory");
}
