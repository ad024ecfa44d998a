// Signing in and out against the stand-in back end, with the token in a real keyring.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "AccountTestEnvironment.h"
#include "App/account/AppServices.h"
#include "App/account/LoginController.h"
#include "App/account/LoginKeyring.h"
#include "App/account/LoginWindow.h"
#include "App/account/MachineIdentifier.h"
#include "App/server/ServerController.h"
#include "App/shell/AppInfo.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "gui/App/welcome/WelcomeTestSupport.h"
#include "support/HttpFetch.h"
#include "support/LogCapture.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

using kx::LoginController;
using kxtest::AccountTestEnvironment;
using kxtest::spinUntil;

namespace {

class LoginControllerGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        AccountTestEnvironment::reset();
        observation_ = kx::NotificationCenter::defaultCenter().addObserver(
            kx::UserConfigChangedNotification, &login(), [this](const kx::Notification&) { ++configChanges_; });
    }
    void TearDown() override
    {
        observation_.reset();
        AccountTestEnvironment::reset();
    }

    static LoginController& login() { return LoginController::shared(); }
    static kxtest::StandInBackend& backend() { return AccountTestEnvironment::backend(); }

    // What the keyring holds for the local environment, read as the application reads it.
    static std::optional<std::string> keyringToken()
    {
        kx::LoginKeyring keyring(kx::AppInfo::current()->bundle().bundleIdentifier());
        std::optional<std::optional<std::string>> answer;
        keyring.lookup("local", [&](auto result) {
            answer = result.isSuccess() ? result.value() : std::optional<std::string>();
        });
        EXPECT_TRUE(spinUntil([&] { return answer.has_value(); }));
        return answer.value_or(std::nullopt);
    }

    static bool markerSet()
    {
        auto markers = kx::UserDefaults::standard().objectForKey(LoginController::tokenStoredKey);
        return markers.is_object() && markers.contains("local");
    }

    static void answerAlert(kx::Alert* alert, int button)
    {
        ASSERT_NE(alert, nullptr);
        ASSERT_TRUE(spinUntil([&] { return alert->window() != nullptr; }));
        gtk_button_clicked(GTK_BUTTON(alert->buttons()[size_t(button)]->widget()));
    }

    int configChanges_ = 0;
    kx::NotificationCenter::Token observation_;
};

} // namespace

TEST_F(LoginControllerGui, LinkSignsInFetchesAndCachesTheRecordAndKeepsTheTokenInTheKeyring)
{
    backend().registerToken("tok-ada", "user", {{"id", "u-ada"}, {"name", "Ada"}, {"email", "ada@example.com"}});
    kxtest::LogCapture log;
    EXPECT_FALSE(login().isLoggedIn());
    EXPECT_TRUE(login().isBlocking());

    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-ada");
    ASSERT_TRUE(spinUntil([&] { return login().userId() == "u-ada"; }));
    EXPECT_EQ(login().userName(), "Ada");
    EXPECT_TRUE(login().isLoggedIn());
    EXPECT_TRUE(login().shouldOpenDocuments());
    EXPECT_EQ(configChanges_, 1);
    auto records = kx::UserDefaults::standard().objectForKey(LoginController::userInfoKey);
    ASSERT_TRUE(records.contains("local"));
    EXPECT_EQ(kx::UserInfo::decode(records["local"].get<std::string>()).value().email, "ada@example.com");

    ASSERT_TRUE(spinUntil(markerSet));
    EXPECT_EQ(keyringToken(), "tok-ada");
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("tok-ada"), std::string::npos) << line;
}

TEST_F(LoginControllerGui, ALaterRunReadsTheKeyringAndRefreshesTheRecordOncePerCompletion)
{
    AccountTestEnvironment::signInFreshUser("Grace");
    ASSERT_TRUE(spinUntil(markerSet));
    const auto token = login().token();

    // A new process's controller: signed in at once by the marker, the token still in the keyring.
    LoginController later(kx::UserDefaults::standard());
    int laterChanges = 0;
    auto observation = kx::NotificationCenter::defaultCenter().addObserver(
        kx::UserConfigChangedNotification, &later, [&](const kx::Notification&) { ++laterChanges; });
    EXPECT_TRUE(later.isLoggedIn());
    EXPECT_FALSE(later.token().has_value());
    EXPECT_EQ(later.userName(), "Grace"); // the cached record

    later.initialize();
    ASSERT_TRUE(spinUntil([&] { return laterChanges == 1; }));
    EXPECT_EQ(later.token(), token);
    later.initialize();
    ASSERT_TRUE(spinUntil([&] { return laterChanges == 2; }));
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(laterChanges, 2);
}

TEST_F(LoginControllerGui, SignOutClearsTokenRecordMarkerAndKeyringEntry)
{
    AccountTestEnvironment::signInFreshUser();
    ASSERT_TRUE(spinUntil(markerSet));

    login().logoutAndQuit(false);
    EXPECT_FALSE(login().isLoggedIn());
    EXPECT_FALSE(login().token().has_value());
    EXPECT_FALSE(login().userId().has_value());
    EXPECT_FALSE(markerSet());
    EXPECT_TRUE(kx::UserDefaults::standard().objectForKey(LoginController::userInfoKey).is_null());
    EXPECT_EQ(keyringToken(), std::nullopt);
}

TEST_F(LoginControllerGui, SignOutWithConfirmationQuitsOnlyWhenConfirmed)
{
    AccountTestEnvironment::signInFreshUser();
    int quits = 0;
    auto saved = login().terminateHandler;
    login().terminateHandler = [&] { ++quits; };

    kx::MainQueue::async([] { answerAlert(kx::Alert::shownAlerts().back().get(), 1); });
    login().logoutAndQuit(true);
    EXPECT_TRUE(login().isLoggedIn());
    EXPECT_EQ(quits, 0);

    // Signing out of an ephemeral session in front of the saved sign-in ends that one too.
    ASSERT_TRUE(spinUntil(markerSet));
    backend().registerToken("tok-eph-out", "user", {{"id", "u-eph-out"}, {"name", "Eph"}});
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-eph-out&ephemeral=1");
    ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() != nullptr; }, kxtest::accountPageTimeout));
    answerAlert(login().pendingSwitchAlert(), 0);
    ASSERT_TRUE(spinUntil([&] { return login().userId() == "u-eph-out"; }));
    std::string question;
    kx::MainQueue::async([&] {
        question = kx::Alert::shownAlerts().back()->informativeText();
        answerAlert(kx::Alert::shownAlerts().back().get(), 0);
    });
    login().logoutAndQuit(true);
    EXPECT_EQ(question, "Korvel X quits after signing out. Your saved sign-in as \u201CAda Lovelace\u201D (ada@example.com) "
                        "goes too, so the next launch asks you to sign in.");
    EXPECT_FALSE(login().isLoggedIn());
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(markerSet());
    EXPECT_EQ(keyringToken(), std::nullopt);
    login().terminateHandler = saved;
}

TEST_F(LoginControllerGui, ALinkWhileSignedInNamesTheAccountItOpensBeforeAnyoneCanAccept)
{
    const auto first = AccountTestEnvironment::signInFreshUser("First");
    // A name made to mislead: a right-to-left override would show "Mallory" reversed as
    // something else, a zero-width space would hide in it.
    backend().registerToken("tok-other", "user",
                            {{"id", "u-other"}, {"name", "Mall\u202Eory\u200B"}, {"email", "mallory@example.com"}});
    kxtest::LogCapture log;

    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-other");
    // Nothing can be answered before the back end said whose the link is.
    EXPECT_TRUE(login().isCheckingLink());
    EXPECT_EQ(login().pendingSwitchAlert(), nullptr);
    // A second link meanwhile, and while the question is open, changes nothing.
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-other");
    ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() != nullptr; }, kxtest::accountPageTimeout));
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-other");
    kx::Alert* question = login().pendingSwitchAlert();
    EXPECT_EQ(question->messageText(), "Sign in with another account?");
    EXPECT_EQ(question->informativeText(),
              "A link asks Korvel X to sign in as \u201CMallory\u201D (mallory@example.com). You are signed in as "
              "\u201CFirst\u201D. Sign in only if you opened this link yourself to sign in to that account.");
    ASSERT_EQ(question->buttons().size(), 2u);
    EXPECT_EQ(question->buttons()[1]->title(), "Cancel");
    EXPECT_EQ(question->buttons()[1]->keyEquivalent(), "\r");
    EXPECT_TRUE(question->buttons()[0]->requiresDeliberatePress());
    answerAlert(question, 1);
    ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() == nullptr; }));
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(login().userId(), first);

    // Accepted, it signs in with the very record it named.
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-other");
    ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() != nullptr; }, kxtest::accountPageTimeout));
    backend().registerToken("tok-other", "user", {{"id", "u-swapped"}, {"name", "Someone Else"}});
    answerAlert(login().pendingSwitchAlert(), 0);
    ASSERT_TRUE(spinUntil([&] { return login().userId() == "u-other"; }));
    EXPECT_EQ(login().token(), "tok-other");
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("tok-other"), std::string::npos) << line;
}

TEST_F(LoginControllerGui, ALinkWhoseAccountCannotBeFoundOutIsNotOfferedAndSaysWhy)
{
    const auto first = AccountTestEnvironment::signInFreshUser("First");
    struct Case {
        const char* answer;
        const char* reason;
    };
    for (const Case& c : {Case{"refused", "The account service does not accept the sign-in."},
                          Case{"server-error", "The account service answered with an error (status 500)."},
                          Case{"not-object", "The account service's answer is not an account record."}}) {
        SCOPED_TRACE(c.answer);
        const std::string token = std::string("tok-unknown-") + c.answer;
        backend().registerToken(token, c.answer);
        login().resetTokenFromUrlWithUrl("korvel-x://login?fut=" + token);
        ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() != nullptr; }, kxtest::accountPageTimeout));
        kx::Alert* told = login().pendingSwitchAlert();
        EXPECT_EQ(told->messageText(), "The login link could not be used.");
        EXPECT_EQ(told->informativeText(), std::string("Korvel X could not find out which account the link signs in to. ") + c.reason
                                               + " You are signed in as \u201CFirst\u201D. Nothing was changed.");
        ASSERT_EQ(told->buttons().size(), 1u);
        EXPECT_EQ(told->buttons()[0]->title(), "OK");
        answerAlert(told, 0);
        ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() == nullptr; }));
        EXPECT_EQ(login().userId(), first);
        EXPECT_TRUE(login().isLoggedIn());
    }
}

TEST_F(LoginControllerGui, TheLoginPageSignsInThroughItsOwnLinkWithTheMachineIdentifier)
{
    login().showLoginWindow();
    ASSERT_NE(login().loginWindow(), nullptr);
    ASSERT_TRUE(spinUntil([&] { return login().windowIsVisible(); }));
    EXPECT_TRUE(login().isBlocking());
    ASSERT_TRUE(spinUntil([&] { return backend().recorded("login").size() == 1; }, kxtest::accountPageTimeout));
    EXPECT_EQ(backend().recorded("login")[0]["mid"], kx::MachineIdentifier::current());

    // Once the page is there, its button as the user would press it.
    auto& page = login().loginWindow()->webViewController();
    std::optional<bool> clicked;
    ASSERT_TRUE(spinUntil(
        [&] {
            if (clicked == true)
                return true;
            if (!clicked.has_value()) {
                clicked = false;
                page.evaluateJavaScript("var b = document.getElementById('signin'); b ? (b.click(), true) : false",
                                        [&](auto result, auto) { clicked = result && *result == true ? std::optional(true) : std::nullopt; });
            }
            return false;
        },
        kxtest::accountPageTimeout));
    ASSERT_TRUE(spinUntil([&] { return login().isLoggedIn(); }, kxtest::accountPageTimeout));
    ASSERT_TRUE(spinUntil([&] { return login().userName() == "Ada Lovelace"; }));
    EXPECT_FALSE(login().windowIsVisible());
    EXPECT_TRUE(login().shouldOpenDocuments());
    EXPECT_EQ(configChanges_, 1);
}

TEST_F(LoginControllerGui, TheLoginWindowGrowsWithTheTextAndStaysWholeOnScreen)
{
    for (const double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        kxtest::TextScale text(scale);
        login().showLoginWindow();
        ASSERT_TRUE(spinUntil([&] { return login().windowIsVisible(); }));
        GtkWidget* window = GTK_WIDGET(login().loginWindow()->window());
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window) && gtk_widget_get_allocated_width(window) > 1; }));
        EXPECT_TRUE(kxtest::isWholeOnScreen(window));
        // The page keeps the room it was made for (WebKit zooms it by the text scale), as far
        // as the work area holds.
        const kx::Rect frame = kxtest::frameOnScreen(window);
        const kx::Rect area = kxtest::workAreaOf(window);
        int width = 0, height = 0;
        gtk_window_get_size(GTK_WINDOW(window), &width, &height);
        EXPECT_TRUE(width == std::lround(kx::LoginWindow::width * scale) || frame.size.width == area.size.width) << width;
        EXPECT_TRUE(height == std::lround(kx::LoginWindow::height * scale) || frame.size.height == area.size.height) << height;
        EXPECT_EQ(gtk_widget_get_allocated_width(login().loginWindow()->webViewController().webView().widget()), width);
        if (std::getenv("KX_SCREENSHOT_DIR")) {
            kxtest::spinFor(std::chrono::seconds(2));
            kxtest::saveWindowScreenshot(window, "login-text-" + std::to_string(int(scale * 100)));
        }
        login().loginWindow()->close();
        ASSERT_TRUE(spinUntil([&] { return !login().windowIsVisible(); }));
    }
}

TEST_F(LoginControllerGui, ALinkWhileTheLoginWindowIsShownSignsInWithoutAsking)
{
    AccountTestEnvironment::signInFreshUser("First");
    login().showLoginWindow();
    ASSERT_TRUE(spinUntil([&] { return login().windowIsVisible(); }));
    EXPECT_FALSE(login().shouldOpenDocuments());
    backend().registerToken("tok-window", "user", {{"id", "u-window"}, {"name", "Window"}});

    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-window");
    EXPECT_EQ(login().pendingSwitchAlert(), nullptr);
    EXPECT_TRUE(login().loginWindow()->isBusy()); // the spinner, while the back end answers
    ASSERT_TRUE(spinUntil([&] { return login().userId() == "u-window"; }));
    EXPECT_FALSE(login().windowIsVisible());
}

TEST_F(LoginControllerGui, AnEphemeralTokenIsNeverWrittenAndGoesAtTheEnd)
{
    backend().registerToken("tok-eph", "user", {{"id", "u-eph"}, {"name", "Eph"}});
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-eph&ephemeral=1");
    ASSERT_TRUE(spinUntil([&] { return login().userId() == "u-eph"; }));
    EXPECT_TRUE(login().isEphemeral());
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(markerSet());
    EXPECT_TRUE(kx::UserDefaults::standard().objectForKey(LoginController::userInfoKey).is_null());
    EXPECT_EQ(keyringToken(), std::nullopt);
    // With nothing saved, a second ephemeral link promises nothing back.
    backend().registerToken("tok-eph2", "user", {{"id", "u-eph2"}, {"name", "Eve"}});
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-eph2&ephemeral=1");
    ASSERT_TRUE(spinUntil([&] { return login().pendingSwitchAlert() != nullptr; }, kxtest::accountPageTimeout));
    EXPECT_EQ(login().pendingSwitchAlert()->informativeText(),
              "A link asks Korvel X to sign in as \u201CEve\u201D. You are signed in as \u201CEph\u201D. This sign-in lasts "
              "until Korvel X quits. Sign in only if you opened this link yourself to sign in to that account.");
    answerAlert(login().pendingSwitchAlert(), 1);

    login().clearEphemeralToken();
    EXPECT_FALSE(login().isLoggedIn());
    EXPECT_FALSE(login().userId().has_value());
}

TEST_F(LoginControllerGui, TheStandInOfScriptsRunKeepsItsSignInsInAFolderOfTheUsersOwnOrStartsWithNone)
{
    namespace fs = std::filesystem;
    kxtest::TemporaryDirectory state, elsewhere;
    const auto folder = state / "korvel-x-standin";
    // One run of the stand-in, signing in on its login page or not: whether the token is known.
    std::string token;
    const auto run = [&](bool signIn) {
        kxtest::StandInBackend lasting;
        EXPECT_TRUE(lasting.start(state.path()));
        const auto answer = nlohmann::json::parse(signIn ? lasting.request("POST", "session", "{}").second : "", nullptr, false);
        token = answer.is_object() ? answer.value("token", "") : token;
        return kxtest::fetch(lasting.url() + "api/studio/me", "GET", {{"Authorization", "Token " + token}}).status == 200;
    };
    EXPECT_TRUE(run(true));
    EXPECT_TRUE(run(false));
    EXPECT_EQ(fs::status(folder / "accounts.json").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // A damaged or huge file is a fresh start that the next sign-in replaces.
    kxtest::writeFile(folder / "accounts.json", R"({"version": 1, "accounts": [)");
    EXPECT_FALSE(run(false));
    kxtest::writeFile(folder / "accounts.json", std::string(5u << 20, ' '));
    EXPECT_TRUE(run(true));
    EXPECT_TRUE(run(false));
    // Nothing goes through a folder that is a link: the sign-in lasts for its run only.
    fs::remove_all(folder);
    fs::create_directory_symlink(elsewhere.path(), folder);
    EXPECT_TRUE(run(true));
    EXPECT_FALSE(run(false));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(LoginControllerGui, LinksWithoutAUsableTokenAreIgnoredUnquoted)
{
    kxtest::LogCapture log;
    for (const char* link : {"korvel-x://login", "korvel-x://login?fut=", "korvel-x://login?fut=a%20b",
                             "korvel-x://login?fut=%00x", "https://example.com/?fut=secret-one"}) {
        login().resetTokenFromUrlWithUrl(link);
    }
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(login().isLoggedIn());
    EXPECT_EQ(log.lines().size(), 5u);
    EXPECT_FALSE(log.contains("secret-one"));
    EXPECT_FALSE(log.contains("fut="));
}

TEST_F(LoginControllerGui, HostileAnswersToASignInLeaveTheUserSignedOut)
{
    for (const char* answer : {"not-json", "huge", "deep", "wrong-types", "not-object", "server-error", "refused"}) {
        SCOPED_TRACE(answer);
        const std::string token = std::string("tok-hostile-") + answer;
        backend().registerToken(token, answer);
        kxtest::LogCapture log;
        login().showLoginWindow();
        ASSERT_TRUE(spinUntil([&] { return login().windowIsVisible(); }));
        login().resetTokenFromUrlWithUrl("korvel-x://login?fut=" + token);
        ASSERT_TRUE(spinUntil([&] { return log.contains("Sign-in failed"); }, kxtest::accountPageTimeout));
        EXPECT_TRUE(login().loginWindow()->isShaking()); // the entry is refused
        EXPECT_FALSE(login().isLoggedIn());
        EXPECT_FALSE(login().userId().has_value());
        EXPECT_TRUE(login().windowIsVisible());
        EXPECT_FALSE(login().loginWindow()->isBusy());
        EXPECT_FALSE(log.contains(token));
        login().loginWindow()->close();
    }
    EXPECT_EQ(configChanges_, 0);
}

TEST_F(LoginControllerGui, HostileAnswersToARefreshKeepTheOldRecordAndARefusalSignsOut)
{
    backend().registerToken("tok-refresh", "user", {{"id", "u-refresh"}, {"name", "Kept"}});
    login().resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-refresh");
    ASSERT_TRUE(spinUntil([&] { return login().userId() == "u-refresh"; }));
    configChanges_ = 0;

    int expected = 0;
    for (const char* answer : {"not-json", "huge", "deep", "wrong-types", "server-error"}) {
        SCOPED_TRACE(answer);
        backend().registerToken("tok-refresh", answer);
        kxtest::LogCapture log;
        login().initialize();
        ASSERT_TRUE(spinUntil([&] { return configChanges_ == expected + 1; }, kxtest::accountPageTimeout));
        ++expected;
        EXPECT_TRUE(log.contains("keeping the cached record"));
        EXPECT_EQ(login().userName(), "Kept");
        EXPECT_TRUE(login().isLoggedIn());
    }

    backend().registerToken("tok-refresh", "refused");
    login().initialize();
    ASSERT_TRUE(spinUntil([&] { return !login().isLoggedIn(); }, kxtest::accountPageTimeout));
    EXPECT_FALSE(login().userId().has_value());
    EXPECT_TRUE(spinUntil([&] { return login().windowIsVisible(); }));
    EXPECT_EQ(configChanges_, expected);
}

TEST_F(LoginControllerGui, AStoredSignInWhoseKeyringEntryWentSignsOutAndShowsTheLoginWindow)
{
    AccountTestEnvironment::signInFreshUser("Gone");
    ASSERT_TRUE(spinUntil(markerSet));
    std::optional<bool> cleared;
    kx::LoginKeyring keyring(kx::AppInfo::current()->bundle().bundleIdentifier());
    keyring.clear("local", [&](auto error) {
        cleared = !error;
    });
    ASSERT_TRUE(spinUntil([&] { return cleared.has_value(); }));

    LoginController later(kx::UserDefaults::standard());
    EXPECT_TRUE(later.isLoggedIn());
    later.initialize();
    ASSERT_TRUE(spinUntil([&] { return !later.isLoggedIn(); }));
    EXPECT_FALSE(markerSet());
    EXPECT_TRUE(spinUntil([&] { return later.windowIsVisible(); }));
}

TEST_F(LoginControllerGui, TheProjectServerIsConfiguredWithTheSignedInUserAndTheEnvironment)
{
    auto signedOut = kx::ServerController::Configuration::standard();
    EXPECT_EQ(signedOut.apiToken, "");
    EXPECT_FALSE(signedOut.author.has_value());
    EXPECT_EQ(signedOut.environmentName, "local");

    AccountTestEnvironment::signInFreshUser("Margaret");
    auto configuration = kx::ServerController::Configuration::standard();
    EXPECT_EQ(configuration.apiToken, login().token());
    EXPECT_EQ(configuration.author, "Margaret");
    EXPECT_EQ(configuration.environmentName, "local");
    EXPECT_EQ(configuration.apiURL, backend().url() + "api/");
}

TEST_F(LoginControllerGui, AnEnterpriseDomainIsTakenOnlyWhenItRunsOurBackEnd)
{
    auto& defaults = kx::UserDefaults::standard();
    std::string host = backend().url().substr(std::string("http://").size());
    host.pop_back(); // "127.0.0.1:<port>"
    const auto detect = [&](const std::string& domain) {
        std::optional<bool> taken;
        login().detectEnterpriseDomain(domain, [&](bool answer) { taken = answer; });
        EXPECT_TRUE(spinUntil([&] { return taken.has_value(); }, kxtest::accountPageTimeout));
        return taken.value_or(false);
    };
    EXPECT_FALSE(detect("127.0.0.1:1")); // nobody there
    EXPECT_FALSE(detect("korvel.example/evil"));
    EXPECT_FALSE(defaults.stringForKey(kx::AppServices::enterpriseDomainKey).has_value());
    EXPECT_TRUE(detect(host));
    EXPECT_EQ(defaults.stringForKey(kx::AppServices::enterpriseDomainKey), host);
    defaults.removeObject(kx::AppServices::enterpriseDomainKey);
}
