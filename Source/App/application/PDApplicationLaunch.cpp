// The launch of PDApplication in its order: the object's set-up, the steps before and after
// launching finishes, the first user-config change; the default settings, metrics and the
// usage-minute timer; the start and login windows.
#include "App/application/PDApplication.h"

#include <unistd.h>

#include <cstdio>

#include "App/account/AppServices.h"
#include "App/account/IntercomPopover.h"
#include "App/account/KorvelTracking.h"
#include "App/account/LoginController.h"
#include "App/account/PDGoogleAnalytics.h"
#include "App/account/RKSystemIdleTime.h"
#include "App/account/TelemetryPage.h"
#include "App/server/AppServer.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/application/ApplicationActivity.h"
#include "App/application/CrashReporter.h"
#include "App/application/DesktopIntegration.h"
#include "App/application/DocumentControllerHook.h"
#include "App/application/MainMenu.h"
#include "App/application/MoveToApplicationsFolder.h"
#include "App/application/Relaunch.h"
#include "App/application/ResourceInstaller.h"
#include "App/application/SoftwareUpdater.h"
#include "App/application/UsageMetrics.h"
#include "App/application/UsageMinutes.h"
#include "App/application/WelcomeWindowHook.h"
#include "App/welcome/WelcomeWindowController.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/ResponderChain.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

// The application's menus tell it when they open and close.
class ApplicationMenuDelegate : public NativeMenuDelegate {
public:
    explicit ApplicationMenuDelegate(PDApplication& application)
        : application_(application)
    {
    }
    void menuWillOpen(NativeMenu& menu) override { application_.menuWillOpen(menu); }
    void menuDidClose(NativeMenu& menu) override { application_.menuDidClose(menu); }

private:
    PDApplication& application_;
};

} // namespace

void PDApplication::init()
{
    step("init");
    isFirstLaunch_ = false;
    // The pages learn the back end of the current environment, whichever it is when they load.
    WebViewController::setEndpointsJSONSource([] { return AppServices::endpointsJSON(); });
    // Signed in, the account's hidden pages join the start page's web process.
    TelemetryPage::setSignedInPageToShare([] { return WelcomeWindowController::shared().pageView(); });
    setUpMetrics();
    menuDelegate_ = std::make_shared<ApplicationMenuDelegate>(*this);
    libraryVersionMenu_ = NativeMenu::make("");
    libraryVersionMenu_->setDelegate(menuDelegate_);
    libraryVersionMenu_->setAutoenablesItems(false);
    // What a nib would load: the application's own menus, completed at the end of the launch.
    auto mainMenu = MainMenu::make(AppInfo::current()->isInternal());
    for (const auto& item : mainMenu->items()) {
        if (item->submenu())
            item->submenu()->setDelegate(menuDelegate_);
    }
    NativeMenu::setMainMenu(std::move(mainMenu));
    ResponderChain::shared().setApplicationResponder(this);
    // The first document controller made is the process's shared one.
    DocumentControllerHook::start();

    auto& login = LoginController::shared();
    login.terminateHandler = [this] { terminate(nullptr); };
    login.didSignInHandler = [this] {
        // The documents that waited for the sign-in, else the start window.
        if (DocumentControllerHook::restoreDocuments())
            step("restoreDocuments");
        else
            showWelcomeWindow(nullptr);
    };
    WelcomeWindowHook::setWindowDidCloseHandler([this] { welcomeWindowDidClose(); });
}

void PDApplication::applicationWillFinishLaunching()
{
    step("applicationWillFinishLaunching");
    launchDate_ = std::chrono::system_clock::now();
    // Links arrive through the application's "open" from here on.
    step("registerURLHandler");
    setUpDefaults();
    const auto info = AppInfo::current();
    if (info->isAlpha() || info->isOmega() || UserDefaults::standard().boolForKey(chooseStoreEnvironmentKey)) {
        step("chooseEnvironment");
        AppServices::setLogoutHandler([] { LoginController::shared().logoutAndQuit(false); });
        AppServices::chooseEnvironment();
    }
    UserDefaults::standard().removeObject(persistenceIgnoreStateKey);
    step("installLatestNimbet");
    ResourceInstaller::installLatestNimbet();
    step("installLatestLibrary");
    ResourceInstaller::installLatestLibrary();
    step("installSketchPasteboard");
    ResourceInstaller::installSketchPasteboard();
    step("AppServer.start");
    AppServer::start();
}

void PDApplication::applicationDidFinishLaunching()
{
    step("applicationDidFinishLaunching");
    step("startCrashReporter");
    CrashReporter::start();
    if (isFirstLaunch_) {
        step("track launch_first");
        KorvelTracking::shared().track("launch_first", nlohmann::json::object());
    }
    step("track launch");
    KorvelTracking::shared().track("launch", nlohmann::json::object());
    step("registerWithLaunchServices");
    DesktopIntegration::registerWithLaunchServices();
    step("moveToApplicationsFolder");
    auto move = MoveToApplicationsFolder::Environment::current();
    move.exit = [this] {
        applicationWillTerminate();
        std::fflush(nullptr);
        ::_exit(0);
    };
    MoveToApplicationsFolder::moveIfNecessary(move);
    step("setUpMenuItems");
    setUpMenuItems();
    step("minuteTimer");
    minuteIntervalTimer_ = MainQueue::repeating(minuteInterval, [this] { handleMinuteInterval(); });
    step("idleTracking");
    RKSystemIdleTime::startTracking();
    auto& login = LoginController::shared();
    step("observeUserConfig");
    userConfigObserver_ = observeOnce(UserConfigChangedNotification, &login, [this] {
        step("userConfigChanged");
        setUpSparkle();
        step("IntercomPopover.load");
        IntercomPopover::shared().load();
        identifyUserForKorvelTracker();
    });
    step("LoginController.initialize");
    login.initialize();
    if (login.isLoggedIn())
        setUpWelcomeWindow();
    else
        showLoginWindow();
    Relaunch::detachDiskImageLater();
}

std::shared_ptr<NotificationCenter::Token> PDApplication::observeOnce(const std::string& name, const void* sender,
                                                                     std::function<void()> handler)
{
    auto token = std::make_shared<NotificationCenter::Token>();
    std::weak_ptr<NotificationCenter::Token> weak = token;
    *token = NotificationCenter::defaultCenter().addObserver(name, sender, [weak, handler = std::move(handler)](const Notification&) {
        auto held = weak.lock();
        if (!held || !*held)
            return;
        // Unregistered first, so that a post from inside the handler does not run it again.
        auto observation = std::move(*held);
        handler();
    });
    return token;
}

void PDApplication::setUpSparkle()
{
    step("setUpSparkle");
    SoftwareUpdater::shared().setUp(LoginController::shared().updatesDisabled(), AppServices::updatesFeedURL());
}

void PDApplication::identifyUserForKorvelTracker()
{
    step("identifyUserForKorvelTracker");
    if (auto userId = LoginController::shared().userId())
        KorvelTracking::shared().identifyWithUserId(*userId, nlohmann::json::object());
}

void PDApplication::setUpWelcomeWindow()
{
    step("setUpWelcomeWindow");
    WelcomeWindowHook::setUp();
}

void PDApplication::showWelcomeWindow(Sender)
{
    if (isTerminating_ || !LoginController::shared().isLoggedIn())
        return;
    step("showWelcomeWindow");
    WelcomeWindowHook::show();
}

void PDApplication::showLoginWindow()
{
    step("showLoginWindow");
    LoginController::shared().showLoginWindow();
}

void PDApplication::setUpDefaults()
{
    step("setUpDefaults");
    UsageMetrics::setUpDefaults(AppInfo::current()->bundle(), UserDefaults::standard());
}

void PDApplication::setUpMetrics()
{
    step("setUpMetrics");
    UsageMetrics::setUpMetrics(PDGoogleAnalytics::sharedInstance(), AppInfo::current()->bundle(), UserDefaults::standard(),
                               [this] { isFirstLaunch_ = true; }, [] { return ApplicationActivity::isActive(); });
}

void PDApplication::handleMinuteInterval()
{
    auto& defaults = UserDefaults::standard();
    UsageMinutes::registerDefaults(defaults);
    const bool active = isActive();
    UsageMinutes::read(defaults).tick(active, active ? RKSystemIdleTime::secondsIdle() : 0).write(defaults);
}

std::string PDApplication::deviceModel()
{
    return UsageMetrics::deviceModel();
}

void PDApplication::addActions()
{
    // The default action of the application's desktop notifications: opens their link.
    auto action = GObjectRef<GSimpleAction>::adopt(g_simple_action_new("open-url", G_VARIANT_TYPE_STRING));
    connections_.push_back(SignalConnection::connect<void(GSimpleAction*, GVariant*)>(
        action.get(), "activate", [this](GSimpleAction*, GVariant* parameter) {
            const std::string url = parameter ? g_variant_get_string(parameter, nullptr) : "";
            if (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0)
                openURL(url, false);
        }));
    g_action_map_add_action(G_ACTION_MAP(application_.get()), G_ACTION(action.get()));
}

} // namespace kx
