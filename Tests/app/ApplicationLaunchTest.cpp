// The application as a user starts it: the launch in its order, the login window or the start
// window, a second process handing its link to the first, the windowless rule, quitting by
// shortcut and by signal, and a crash reported at the next launch; and an application that a
// test leaves and that will not quit is killed.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <set>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::startTitle;
using kxtest::loginTitle;
namespace Display = kxtest::Display;

namespace kxtest {
StandInBackend& applicationBackend()
{
    static StandInBackend backend;
    return backend;
}

// Signs a fresh user in through a second process's link.
void signInThroughSecondProcess(const ApplicationHome& home, ApplicationProcess& primary)
{
    static int next = 0;
    const std::string token = "kx_app_test_token_" + std::to_string(::getpid()) + "_" + std::to_string(++next);
    applicationBackend().registerToken(token, "user", {{"id", "u-app-" + std::to_string(next)}, {"name", "Ada"}});
    ApplicationProcess second(home, applicationBackend().url(), {"korvel-x://login?fut=" + token});
    EXPECT_TRUE(second.launch());
    EXPECT_TRUE(second.waitForExit());
    EXPECT_EQ(second.reason(), kx::Process::TerminationReason::exit);
    EXPECT_EQ(second.status(), 0);
    // It only handed its link over: none of the launch ran there.
    EXPECT_TRUE(second.steps().empty());
    EXPECT_TRUE(primary.waitForStep("handleURLEvent login"));
}

} // namespace kxtest

namespace {


const std::string& backendURL()
{
    return kxtest::applicationBackend().url();
}

// The steps of `expected` appear in `steps` in this order (others may come between).
::testing::AssertionResult inOrder(const std::vector<std::string>& steps, const std::vector<std::string>& expected)
{
    auto at = steps.begin();
    for (const auto& step : expected) {
        at = std::find(at, steps.end(), step);
        if (at == steps.end()) {
            std::string all;
            for (const auto& s : steps)
                all += "\n  " + s;
            return ::testing::AssertionFailure() << "\"" << step << "\" missing or out of order in:" << all;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(ApplicationLaunch, SignedOutTheLaunchRunsInOrderAndEndsAtTheLoginWindow)
{
    kxtest::applicationBackend().clearRecorded();
    ApplicationHome home;
    ApplicationProcess app(home, backendURL());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    EXPECT_TRUE(inOrder(app.steps(), {
        "init", "setUpMetrics",
        "applicationWillFinishLaunching", "registerURLHandler", "setUpDefaults", "installLatestNimbet",
        "installLatestLibrary", "installSketchPasteboard", "AppServer.start",
        "activate", "applicationShouldOpenUntitledFile",
        "applicationDidFinishLaunching", "startCrashReporter", "track launch_first", "track launch",
        "registerWithLaunchServices", "moveToApplicationsFolder", "setUpMenuItems", "minuteTimer", "idleTracking",
        "observeUserConfig", "LoginController.initialize", "showLoginWindow",
    }));
    // Signed out, the start window is not shown.
    EXPECT_FALSE(app.hasStep("showWelcomeWindow"));
    EXPECT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(loginTitle); }));

    // The events reached the back end (each its own request: they may cross on the way), sent
    // once the tracking page has loaded, which on a busy machine takes as long as a window.
    EXPECT_TRUE(kxtest::spinUntil([] { return kxtest::applicationBackend().recorded("track").size() >= 2; }, kxtest::windowTimeout));
    std::multiset<std::string> events;
    for (const auto& entry : kxtest::applicationBackend().recorded("track"))
        events.insert(entry.value("event", ""));
    EXPECT_EQ(events, (std::multiset<std::string>{"launch", "launch_first"}));
    EXPECT_TRUE(kxtest::spinUntil([] {
        for (const auto& hit : kxtest::applicationBackend().recorded("collect")) {
            if (hit["ec"] == "app" && hit["ea"] == "start")
                return true;
        }
        return false;
    }, kxtest::windowTimeout));

    // What the launch put in place.
    EXPECT_TRUE(fs::exists(home.data() / "korvel-x" / "Nimbet" / ".installer-version"));
    EXPECT_TRUE(fs::is_symlink(home.data() / "korvel-x" / "yarn-link-folder" / "korvel"));
    EXPECT_TRUE(kxtest::spinUntil([&] { return fs::exists(home.data() / "applications" / "com.korvel.x.desktop"); }));
    EXPECT_TRUE(fs::exists(home.data() / "mime" / "packages" / "com.korvel.x.xml"));
    // A copy outside every package: its entry shows its icon from the user's theme.
    EXPECT_NE(kx::FileSystem::readFile(home.data() / "applications" / "com.korvel.x.desktop").value_or("").find("\nIcon=com.korvel.x\n"),
              std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(home.data() / "icons" / "hicolor" / "scalable" / "apps" / "com.korvel.x.svg"));
    EXPECT_TRUE(fs::is_regular_file(home.data() / "icons" / "hicolor" / "48x48" / "apps" / "com.korvel.x.png"));
    // The default handler of our links, and of nothing else.
    EXPECT_TRUE(kxtest::spinUntil([&] {
        return kx::FileSystem::readFile(home.config() / "mimeapps.list").value_or("").find("x-scheme-handler/korvel-x=com.korvel.x.desktop")
            != std::string::npos;
    }));
    EXPECT_EQ(kx::FileSystem::readFile(home.config() / "mimeapps.list").value_or("").find("application/x-korvelx"), std::string::npos);

    // Ctrl+Q in the login window, which has no menu bar, quits.
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.reason(), kx::Process::TerminationReason::exit);
    EXPECT_EQ(app.status(), 0);
    EXPECT_TRUE(inOrder(app.steps(), {"terminate", "applicationWillTerminate"}));
    kx::UserDefaults defaults(home.config() / "com.korvel.x" / "defaults.json");
    EXPECT_TRUE(defaults.boolForKey("PDRunOnce.firstlaunch"));
}

TEST(ApplicationLaunch, ASecondProcessHandsItsLinkToTheFirstAndASignedInLaunchReachesTheStartWindow)
{
    kxtest::applicationBackend().clearRecorded();
    ApplicationHome home;
    {
        ApplicationProcess first(home, backendURL());
        ASSERT_TRUE(first.launch());
        ASSERT_TRUE(first.waitForStep("showLoginWindow"));
        signInThroughSecondProcess(home, first);
        // The sign-in shows the start window and completes the launch once.
        ASSERT_TRUE(first.waitForStep("showWelcomeWindow"));
        EXPECT_TRUE(first.waitForStep("identifyUserForKorvelTracker"));
        EXPECT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }));
        EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(loginTitle); }));
        // The token is in the keyring once the settings say so.
        EXPECT_TRUE(kxtest::spinUntil([&] {
            return kx::FileSystem::readFile(home.config() / "com.korvel.x" / "defaults.json").value_or("").find("PDLoginTokenStored")
                != std::string::npos;
        }));
        // SIGTERM ends it as quitting does.
        first.signal(SIGTERM);
        ASSERT_TRUE(first.waitForExit());
        EXPECT_EQ(first.status(), 0);
        EXPECT_TRUE(inOrder(first.steps(), {"signal", "applicationWillTerminate"}));
    }

    ApplicationProcess again(home, backendURL());
    ASSERT_TRUE(again.launch());
    ASSERT_TRUE(again.waitForStep("setUpWelcomeWindow")) << inOrder(again.steps(), {"never"}).message();
    EXPECT_TRUE(inOrder(again.steps(), {"activate", "applicationShouldOpenUntitledFile", "showWelcomeWindow",
                                        "applicationDidFinishLaunching", "LoginController.initialize", "setUpWelcomeWindow"}));
    EXPECT_FALSE(again.hasStep("showLoginWindow"));
    EXPECT_FALSE(again.hasStep("track launch_first"));
    // The record is fetched again: the first user-config change sets up the rest, once.
    ASSERT_TRUE(again.waitForStep("identifyUserForKorvelTracker"));
    EXPECT_TRUE(inOrder(again.steps(), {"userConfigChanged", "setUpSparkle", "IntercomPopover.load", "identifyUserForKorvelTracker"}));
    EXPECT_EQ(again.count("userConfigChanged"), 1);
    EXPECT_TRUE(kxtest::spinUntil([] {
        for (const auto& entry : kxtest::applicationBackend().recorded("track")) {
            if (entry["type"] == "identify")
                return true;
        }
        return false;
    }, kxtest::windowTimeout));

    // A store link with no document open: a new document is made for it, in place of the
    // start window; once it closes, the start window is back.
    ApplicationProcess store(home, backendURL(), {"korvel-x://store/package/some-package"});
    ASSERT_TRUE(store.launch());
    ASSERT_TRUE(store.waitForExit());
    EXPECT_TRUE(again.waitForStep("handleURLEvent store"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, std::chrono::seconds(30)));
    EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(startTitle); }));
    ASSERT_TRUE(Display::closeWindow("Untitled"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, std::chrono::seconds(30)));
    EXPECT_FALSE(again.exited());

    // Closing the start window with nothing else on screen quits.
    ASSERT_TRUE(Display::closeWindow(startTitle));
    ASSERT_TRUE(again.waitForExit());
    EXPECT_EQ(again.status(), 0);
    EXPECT_TRUE(inOrder(again.steps(), {"welcomeWindowDidClose", "terminate", "applicationWillTerminate"}));
}

TEST(ApplicationLaunch, ALaunchFromDownloadsWhileTheInstalledCopyRunsHandsOffToIt)
{
    ApplicationHome home;
    ApplicationProcess installed(home, backendURL());
    ASSERT_TRUE(installed.launch());
    ASSERT_TRUE(installed.waitForStep("showLoginWindow"));

    // A copy of ours unpacked into Downloads, which would offer to move itself if it ran.
    const fs::path copy = home.folder / "Downloads" / "korvel-x-1.0";
    fs::create_directories(copy);
    fs::copy_file(ApplicationProcess::hostExecutable(), copy / "korvel-x");
    fs::create_directory_symlink(kx::FileSystem::realPath(ApplicationProcess::hostExecutable().parent_path() / "Resources").value(),
                                 copy / "Resources");
    ApplicationProcess downloaded(home, backendURL(), {}, copy / "korvel-x");
    ASSERT_TRUE(downloaded.launch());
    ASSERT_TRUE(downloaded.waitForExit());
    EXPECT_EQ(downloaded.status(), 0);
    EXPECT_TRUE(downloaded.steps().empty());
    // The running copy was activated instead: its login window stays in front.
    EXPECT_TRUE(installed.waitForStep("applicationShouldHandleReopen"));
    EXPECT_TRUE(fs::exists(copy / "korvel-x"));
    EXPECT_EQ(installed.count("moveToApplicationsFolder"), 1);
}

TEST(ApplicationLaunch, ACrashIsReportedOnceAtTheNextLaunch)
{
    kxtest::applicationBackend().clearRecorded();
    ApplicationHome home;
    const fs::path reports = home.cache() / "com.korvel.x" / "CrashReports";
    {
        ApplicationProcess app(home, backendURL());
        ASSERT_TRUE(app.launch());
        ASSERT_TRUE(app.waitForStep("showLoginWindow"));
        app.signal(SIGSEGV);
        ASSERT_TRUE(app.waitForExit());
        // (The address sanitizer's handler, which comes after ours, ends the process itself.)
        if (!kxtest::underAddressSanitizer()) {
            EXPECT_EQ(app.reason(), kx::Process::TerminationReason::uncaughtSignal);
            EXPECT_EQ(app.status(), SIGSEGV);
        }
    }
    ASSERT_TRUE(fs::exists(reports));
    EXPECT_EQ(std::distance(fs::directory_iterator(reports), fs::directory_iterator()), 1);
    EXPECT_TRUE(kxtest::applicationBackend().recorded("crash").empty());

    for (int launch = 0; launch < 2; ++launch) {
        ApplicationProcess app(home, backendURL());
        ASSERT_TRUE(app.launch());
        ASSERT_TRUE(app.waitForStep("showLoginWindow"));
        if (launch == 0) {
            ASSERT_TRUE(kxtest::spinUntil([] { return kxtest::applicationBackend().recorded("crash").size() == 1; }));
            ASSERT_TRUE(kxtest::spinUntil([&] { return fs::is_empty(reports); }));
        } else {
            kxtest::spinFor(std::chrono::seconds(1));
        }
        app.signal(SIGTERM);
        ASSERT_TRUE(app.waitForExit());
    }
    const auto crashes = kxtest::applicationBackend().recorded("crash");
    ASSERT_EQ(crashes.size(), 1u);
    EXPECT_EQ(crashes[0]["event"]["exception"]["values"][0]["type"], "SIGSEGV");
    EXPECT_EQ(crashes[0]["event"]["release"], "korvel-x@1.0.0");
}

TEST(ApplicationLaunch, ALinkInTheCommandLineIsWipedAndTheBareSchemeBringsTheApplicationForward)
{
    ApplicationHome home;
    // A login token that others could read in /proc must not stay there.
    ApplicationProcess app(home, backendURL(), {"korvel-x://login?fut=not-a-registered-token"});
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    EXPECT_TRUE(inOrder(app.steps(), {"AppServer.start", "handleURLEvent login", "applicationDidFinishLaunching"}));
    EXPECT_FALSE(app.hasStep("applicationShouldOpenUntitledFile"));
    const std::string commandLine = kx::FileSystem::readFile("/proc/" + std::to_string(app.pid()) + "/cmdline").value_or("");
    EXPECT_FALSE(commandLine.empty());
    EXPECT_EQ(commandLine.find("fut="), std::string::npos);
    EXPECT_EQ(commandLine.find("korvel-x://"), std::string::npos);

    ApplicationProcess second(home, backendURL(), {"korvel-x://"});
    ASSERT_TRUE(second.launch());
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.status(), 0);
    EXPECT_TRUE(app.waitForStep("handleURLEvent activate"));
    // A link of another scheme is nobody's: it is not opened as a document either.
    ApplicationProcess third(home, backendURL(), {"https://korvel.com/"});
    ASSERT_TRUE(third.launch());
    ASSERT_TRUE(third.waitForExit());
    kxtest::spinFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(app.hasStep("openDocuments"));
}

namespace {

// Launches a stand-in for the application that ignores SIGTERM and lets its process object go:
// the stand-in's process id.
pid_t leaveAnApplicationThatWillNotQuit()
{
    ApplicationHome home;
    // The signal stays ignored across the exec.
    ApplicationProcess app(home, backendURL(), {"-c", "trap '' TERM; exec sleep 60"}, "/bin/sh");
    EXPECT_TRUE(app.launch());
    const std::string comm = "/proc/" + std::to_string(app.pid()) + "/comm";
    EXPECT_TRUE(kxtest::spinUntil([&] { return kx::FileSystem::readFile(comm) == "sleep\n"; }));
    return app.pid();
}

} // namespace

TEST(ApplicationLaunch, AnApplicationThatWillNotQuitIsKilledAndFailsTheTestThatLeftIt)
{
    static pid_t pid = 0;
    EXPECT_NONFATAL_FAILURE(pid = leaveAnApplicationThatWillNotQuit(), "did not end within 10 s of SIGTERM; killed");
    EXPECT_NE(::kill(pid, 0), 0) << "process " << pid << " still runs";
}
