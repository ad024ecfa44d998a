// The application object: one instance per user session (a GtkApplication registered on the
// session bus under the bundle identifier), its own delegate, the application's responder and
// the delegate of its menus.
//
// Launch, in the primary instance only (a second `korvel-x` hands its files and links to the
// running one and leaves): at "startup" the object's set-up (metrics, menus) and the steps
// before launching finishes (defaults, environment chooser, resource installers, the local
// editor server); then the files and links given at launch, or the start window; then the
// steps after launching finishes (crash reports, launch events, desktop integration, the
// offer to move into an application folder, menus, the usage-minute timer, idle time, the
// account), ending with the start window for a signed-in user or the login window. The first
// "UserConfigChangedNotification" of the login controller sets up the updater, the support
// chat and the user's identification, once.
//
// Without a window the application does not linger: closing the start window with no
// document open and nothing else on screen quits (docs/decisions.md). Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/SourceHandle.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/Responder.h"

namespace kx {

class PDApplication : public Responder {
public:
    struct Options {
        // Told the name of each launch step and handled event, as it happens (tests and
        // benchmarks watch the launch with it).
        std::function<void(const std::string& step)> stepObserver;
    };

    static constexpr const char* willResignActiveNotification = "PDApplicationWillResignActiveNotifcation";
    static constexpr const char* chooseStoreEnvironmentKey = "ChooseStoreEnvironment";
    static constexpr const char* persistenceIgnoreStateKey = "ApplePersistenceIgnoreState";
    // The product web site of the help commands.
    static constexpr const char* productSiteHost = "korvel.com";
    static constexpr const char* helpQuery = "?utm_source=korvel_x_app&utm_medium=link&utm_campaign=help";
    static constexpr std::chrono::seconds minuteInterval{60};
    static constexpr std::chrono::seconds terminationRetryInterval{10};

    // The process's entry point: runs the application and returns the exit status.
    static int main(int argc, char** argv, Options options = {});

    // The running application; stops the process when there is none.
    static PDApplication& shared();
    static PDApplication* current();

    explicit PDApplication(Options options);
    ~PDApplication() override;

    GtkApplication* gtkApplication() const { return application_.get(); }

    // The launch, as the GApplication signals drive it.
    void init();
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void applicationWillResignActive();
    bool applicationShouldOpenUntitledFile();
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Files and links given at launch or by another instance.
    void openURIs(const std::vector<std::string>& uris);
    void handleURLEvent(const std::string& url);

    // The start window.
    void setUpWelcomeWindow();
    void showWelcomeWindow(Sender sender);
    void welcomeWindowDidClose();

    void identifyUserForKorvelTracker();
    void setUpSparkle();

    // Quitting: asks the documents first (unless the session or a signal ends it).
    void terminate(Sender sender);
    void saveDocumentsAndTerminate();
    bool isTerminating() const { return isTerminating_; }
    bool isFirstLaunch() const { return isFirstLaunch_; }
    std::chrono::system_clock::time_point launchDate() const { return launchDate_; }

    bool shouldCloseRestoredDocuments() const { return shouldCloseRestoredDocuments_; }
    void disableDocumentRestoration() { shouldCloseRestoredDocuments_ = true; }

    // Active while any of its windows is the active one.
    bool isActive() const;
    bool isFrontmost() const { return isActive(); }

    // Menus.
    void setUpMenuItems();
    // What `setUpMenuItems` adds to the merged main menu: the library-version submenu in the
    // File menu, and on internal builds the Experiments menu right before Help.
    static void completeMainMenu(NativeMenu& mainMenu, const std::shared_ptr<NativeMenu>& libraryVersionMenu,
                                 std::shared_ptr<NativeMenu> experimentsMenu);
    // The commands that wait for a signed-in user with the login window away.
    static bool isAccountCommand(const std::string& action);
    const std::shared_ptr<NativeMenu>& libraryVersionMenu() const { return libraryVersionMenu_; }
    void menuWillOpen(NativeMenu& menu);
    void menuDidClose(NativeMenu& menu);
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;

    // Commands.
    void orderFrontStandardAboutPanel(Sender sender);
    void checkForUpdates(Sender sender);
    void showAccountDashboard(Sender sender);
    void logoutAction(Sender sender);
    void showSnippetsPath(Sender sender);
    void showHelp(const std::string& path);
    void openURL(const std::string& url, bool inBackground);
    [[noreturn]] void crash();

    // Default settings, metrics and the usage-minute timer.
    void setUpDefaults();
    void setUpMetrics();
    void handleMinuteInterval();
    static std::string deviceModel();

    // Runs `handler` once, for the first post of `name` from `sender`; later posts do nothing.
    static std::shared_ptr<NotificationCenter::Token> observeOnce(const std::string& name, const void* sender,
                                                                 std::function<void()> handler);

private:
    void step(const std::string& name) const;
    void startup();
    void activate();
    void open(GFile** files, int count);
    void finishLaunchingOnce();
    void installSignalHandlers();
    // A signal (SIGTERM, SIGINT, SIGHUP): nobody is asked any more, every question and panel on
    // screen ends with its cancel answer, and once out of the modal loops they ran the
    // documents are saved without asking and the process ends.
    void endForSignal();
    void finishEndingForSignal();
    // The end of the desktop session (the session manager's EndSession or Stop) ends the
    // application as a signal does.
    void watchForSessionEnd();
    // Gives a top-level window without a menu bar the main menu's keys (a hidden bar).
    void adoptWindowWithoutMenuBar(GtkWindow* window);
    void presentVisibleWindows();
    void addActions();
    void registerActions();
    void showLoginWindow();

    Options options_;
    GObjectRef<GtkApplication> application_;
    std::vector<SignalConnection> connections_;
    std::vector<SourceHandle> signalSources_;
    GObjectRef<GDBusConnection> sessionBus_;
    guint sessionEndSubscription_ = 0;
    bool didFinishLaunching_ = false;
    bool isFirstLaunch_ = false;
    bool isTerminating_ = false;
    bool isEndingForSignal_ = false;
    bool shouldCloseRestoredDocuments_ = false;
    std::chrono::system_clock::time_point launchDate_{};
    std::shared_ptr<NativeMenu> libraryVersionMenu_;
    std::shared_ptr<NativeMenuDelegate> menuDelegate_;
    std::shared_ptr<MainQueue::Timer> minuteIntervalTimer_;
    std::shared_ptr<NotificationCenter::Token> userConfigObserver_;
};

} // namespace kx
