// The application object on GtkApplication: the process's entry point, the GApplication
// signals that drive the launch, the main menu's keys in windows without a menu bar,
// termination and the windows on screen.
#include "App/application/PDApplication.h"

#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>

#include "App/account/LoginController.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/application/ApplicationActivity.h"
#include "App/application/ApplicationIcon.h"
#include "App/application/DocumentControllerHook.h"
#include "App/application/Relaunch.h"
#include "App/application/URLEvent.h"
#include "App/application/WelcomeWindowHook.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "Platform/Foundation/StartupTrace.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/GraphicsDriverPreload.h"
#include "Platform/UI/ResponderChain.h"
#include "Platform/UI/WindowMenuBar.h"
#include "Platform/UI/Window.h"

namespace kx {

namespace {

PDApplication* runningApplication = nullptr;

// Assistive technology reads the application by its name: GTK would give the program's name,
// which is the application id that names the desktop entry. GTK's root object, the one
// instance of its class, is asked for the application's name instead.
void nameApplicationForAssistiveTechnology()
{
    if (const std::optional<std::string>& name = AppInfo::current()->displayName())
        g_set_application_name(name->c_str());
    if (AtkObject* root = atk_get_root())
        ATK_OBJECT_GET_CLASS(root)->get_name = [](AtkObject*) -> const gchar* { return g_get_application_name(); };
}

} // namespace

int PDApplication::main(int argc, char** argv, Options options)
{
    StartupTrace::mark("main");
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        const auto& bundle = Bundle::main();
        std::cout << bundle.stringForInfoKey("CFBundleName").value_or("korvel-x") << ' '
                  << bundle.stringForInfoKey("CFBundleShortVersionString").value_or("") << std::endl;
        return 0;
    }
    const std::string applicationId = Bundle::main().bundleIdentifier();
    Relaunch::waitForPredecessor(applicationId);

    // The first window waits for the graphics driver, which loads beside the application's
    // own start. The session bus (which the application registers on next) is connected
    // before: its thread, made while the loader is busy, would wait for the driver.
    GObjectRef<GDBusConnection> sessionBus;
    if (g_getenv("DBUS_SESSION_BUS_ADDRESS"))
        sessionBus = GObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    GraphicsDriverPreload graphicsDriver;

    // GApplication reads its own copy; a link in the process's arguments may carry a login
    // token, which other users of the machine could read there, so it is wiped.
    std::vector<std::string> arguments(argv, argv + argc);
    for (int i = 1; i < argc; ++i) {
        if (URLEvent::isOurs(argv[i]))
            std::memset(argv[i], 0, std::strlen(argv[i]));
    }
    std::vector<char*> copy;
    for (auto& argument : arguments)
        copy.push_back(argument.data());
    copy.push_back(nullptr);

    // Windows carry the application id as their class, which names the desktop entry.
    g_set_prgname(applicationId.c_str());
    PDApplication application(std::move(options));
    return g_application_run(G_APPLICATION(application.gtkApplication()), int(arguments.size()), copy.data());
}

PDApplication& PDApplication::shared()
{
    if (!runningApplication) {
        RKLog("There is no application object", RKLogKind::general);
        std::abort();
    }
    return *runningApplication;
}

PDApplication* PDApplication::current()
{
    return runningApplication;
}

PDApplication::PDApplication(Options options)
    : options_(std::move(options))
{
    if (runningApplication) {
        RKLog("A second application object was made", RKLogKind::general);
        std::abort();
    }
    runningApplication = this;
    const std::string applicationId = Bundle::main().bundleIdentifier();
    application_ = GObjectRef<GtkApplication>::adopt(gtk_application_new(applicationId.c_str(), G_APPLICATION_HANDLES_OPEN));
    // The session manager asks before the session ends.
    g_object_set(application_.get(), "register-session", TRUE, nullptr);
    connections_.push_back(SignalConnection::connect<void(GApplication*)>(application_.get(), "startup",
                                                                          [this](GApplication*) { startup(); }));
    connections_.push_back(SignalConnection::connect<void(GApplication*)>(application_.get(), "activate",
                                                                          [this](GApplication*) { activate(); }));
    connections_.push_back(SignalConnection::connect<void(GApplication*, GFile**, int, const char*)>(
        application_.get(), "open", [this](GApplication*, GFile** files, int count, const char*) { open(files, count); }));
    connections_.push_back(SignalConnection::connect<void(GApplication*)>(application_.get(), "shutdown",
                                                                          [this](GApplication*) { applicationWillTerminate(); }));
    connections_.push_back(SignalConnection::connect<void(GtkApplication*)>(application_.get(), "query-end", [this](GtkApplication*) {
        // The session may end: nothing of the settings is left unwritten.
        step("queryEnd");
        UserDefaults::standard().synchronize();
    }));
    registerActions();
}

PDApplication::~PDApplication()
{
    if (minuteIntervalTimer_)
        minuteIntervalTimer_->cancel();
    signalSources_.clear();
    if (sessionEndSubscription_)
        g_dbus_connection_signal_unsubscribe(sessionBus_.get(), sessionEndSubscription_);
    connections_.clear();
    ResponderChain::shared().setApplicationResponder(nullptr);
    DocumentControllerHook::stop();
    runningApplication = nullptr;
}

void PDApplication::step(const std::string& name) const
{
    StartupTrace::mark(name);
    if (options_.stepObserver)
        options_.stepObserver(name);
}

void PDApplication::startup()
{
    // Without windows the application is not done: it decides itself when to quit.
    g_application_hold(G_APPLICATION(application_.get()));
    nameApplicationForAssistiveTechnology();
    installSignalHandlers();
    watchForSessionEnd();
    addActions();
    // Once the first window is on screen: reading the icon theme would hold it up. The windows
    // shown by then take the icon as those shown later do.
    MainQueue::whenIdle([] {
        const Bundle& bundle = Bundle::main();
        ApplicationIcon::setDefaultWindowIcon(bundle.bundleIdentifier(),
                                              bundle.pathForResource("AppIcon", "svg", "images").value_or(std::filesystem::path()));
    });
    ApplicationActivity::start([this] { applicationWillResignActive(); },
                               [this](GtkWindow* window) { adoptWindowWithoutMenuBar(window); });
    init();
    applicationWillFinishLaunching();
}

void PDApplication::activate()
{
    step("activate");
    if (!didFinishLaunching_) {
        // What was open when the application last ended comes back instead of the start window.
        if (DocumentControllerHook::restoreDocuments())
            step("restoreDocuments");
        else
            applicationShouldOpenUntitledFile();
        finishLaunchingOnce();
        return;
    }
    const bool hasVisibleWindows = Window::isAnyWindowShown();
    presentVisibleWindows();
    applicationShouldHandleReopen(hasVisibleWindows);
}

void PDApplication::open(GFile** files, int count)
{
    std::vector<std::string> uris;
    for (int i = 0; i < count; ++i) {
        if (char* uri = g_file_get_uri(files[i])) {
            uris.emplace_back(uri);
            g_free(uri);
        }
    }
    if (!didFinishLaunching_ && DocumentControllerHook::restoreDocuments())
        step("restoreDocuments");
    openURIs(uris);
    if (!didFinishLaunching_)
        finishLaunchingOnce();
}

void PDApplication::openURIs(const std::vector<std::string>& uris)
{
    std::vector<std::string> documents;
    for (const auto& uri : uris) {
        if (URLEvent::isOurs(uri))
            handleURLEvent(uri);
        else if (uri.rfind("file://", 0) == 0)
            documents.push_back(uri);
        else
            RKLog("Ignoring an argument that is neither a file nor a link of ours", RKLogKind::general);
    }
    if (!documents.empty()) {
        step("openDocuments");
        DocumentControllerHook::openDocuments(documents);
    }
}

void PDApplication::finishLaunchingOnce()
{
    if (didFinishLaunching_)
        return;
    didFinishLaunching_ = true;
    applicationDidFinishLaunching();
    // A launch must leave something on screen (a link alone shows nothing by itself).
    MainQueue::whenIdle([this] {
        if (!isTerminating_ && !Window::isAnyWindowShown())
            applicationShouldHandleReopen(false);
    });
}

void PDApplication::handleURLEvent(const std::string& url)
{
    auto& login = LoginController::shared();
    switch (URLEvent::kindOf(url, login.isLoggedIn())) {
    case URLEvent::Kind::storeLink:
        step("handleURLEvent store");
        if (DocumentControllerHook::showStoreInLastDocument(url))
            return;
        // The link goes to the document made for it, not to whichever is current by then.
        if (!DocumentControllerHook::showStoreInNewDocument(url))
            RKLog("Dropping a store link: no document could be made for it", RKLogKind::general);
        return;
    case URLEvent::Kind::activate:
        step("handleURLEvent activate");
        if (Window::isAnyWindowShown())
            presentVisibleWindows();
        else
            applicationShouldHandleReopen(false);
        return;
    case URLEvent::Kind::loginLink:
        // Never the link itself in a log: it may carry a token.
        step("handleURLEvent login");
        login.resetTokenFromUrlWithUrl(url);
        return;
    case URLEvent::Kind::ignored:
        step("handleURLEvent ignored");
        return;
    }
}

bool PDApplication::applicationShouldOpenUntitledFile()
{
    step("applicationShouldOpenUntitledFile");
    showWelcomeWindow(nullptr);
    return false;
}

bool PDApplication::applicationShouldHandleReopen(bool)
{
    step("applicationShouldHandleReopen");
    if (DocumentControllerHook::documentCount() == 0 && !LoginController::shared().windowIsVisible())
        showWelcomeWindow(nullptr);
    return false;
}

void PDApplication::applicationWillResignActive()
{
    step("applicationWillResignActive");
    NotificationCenter::defaultCenter().post(willResignActiveNotification, nullptr);
}

bool PDApplication::isActive() const
{
    return ApplicationActivity::isActive();
}

void PDApplication::terminate(Sender)
{
    step("terminate");
    if (!isTerminating_ && !DocumentControllerHook::reviewDocumentsBeforeQuitting())
        return;
    applicationWillTerminate();
    g_application_quit(G_APPLICATION(application_.get()));
}

void PDApplication::applicationWillTerminate()
{
    if (isTerminating_)
        return;
    step("applicationWillTerminate");
    isTerminating_ = true;
    // Unless quitting asked the documents already, an end without questions keeps their work.
    DocumentControllerHook::saveDocumentsBeforeEnding();
    UserDefaults::standard().synchronize();
    LoginController::shared().clearEphemeralToken();
}

void PDApplication::saveDocumentsAndTerminate()
{
    step("saveDocumentsAndTerminate");
    DocumentControllerHook::saveDocumentsWithFiles();
    terminate(nullptr);
    // Tried again for as long as the process lives: a save may hold the quit up.
    MainQueue::after(terminationRetryInterval, [this] {
        if (runningApplication == this)
            saveDocumentsAndTerminate();
    });
}

void PDApplication::installSignalHandlers()
{
    // SIGTERM, SIGINT and SIGHUP end the application as quitting does, without questions.
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        const guint id = g_unix_signal_add(
            signalNumber,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<PDApplication*>(data);
                self->step("signal");
                self->endForSignal();
                return G_SOURCE_CONTINUE;
            },
            this);
        signalSources_.push_back(SourceHandle::fromId(id));
    }
}

void PDApplication::watchForSessionEnd()
{
    // GTK answers the session manager for us and, at the end, only quits the main loop: an
    // alert or a save panel would keep its own loop running and the documents unsaved until
    // the session kills the process. The same messages end the application here as a signal
    // does. They are sent to this connection alone.
    GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(application_.get()));
    if (!bus)
        return;
    sessionBus_ = GObjectRef<GDBusConnection>::retain(bus);
    sessionEndSubscription_ = g_dbus_connection_signal_subscribe(
        bus, "org.gnome.SessionManager", "org.gnome.SessionManager.ClientPrivate", nullptr, nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char* member, GVariant*, gpointer data) {
            if (std::strcmp(member, "EndSession") != 0 && std::strcmp(member, "Stop") != 0)
                return;
            auto* self = static_cast<PDApplication*>(data);
            if (runningApplication != self)
                return;
            self->step("sessionEnd");
            self->endForSignal();
        },
        this, nullptr);
}

void PDApplication::endForSignal()
{
    // Whatever waits for the user (an alert, the move offer, a save panel) ends now, with its
    // cancel answer; nothing acts on a later one.
    Alert::endAllForTermination();
    DocumentControllerBase::endPanelsForTermination();
    if (std::exchange(isEndingForSignal_, true))
        return;
    finishEndingForSignal();
}

void PDApplication::finishEndingForSignal()
{
    // Saving waits for the pages on the main loop: not from inside a loop that a question or a
    // wait still runs (they end by themselves now), only from the top.
    if (g_main_depth() > 1 || RunLoopWait::isWaiting()) {
        MainQueue::after(std::chrono::milliseconds(20), [this] {
            if (runningApplication == this)
                finishEndingForSignal();
        });
        return;
    }
    applicationWillTerminate();
    g_application_quit(G_APPLICATION(application_.get()));
}

void PDApplication::adoptWindowWithoutMenuBar(GtkWindow* window)
{
    // Top-level windows of their own (not dialogs, pop-ups or windows with a menu bar) take the
    // main menu as a hidden bar: every key of the menu works there, validated as in a document
    // window. (The start and login windows carry it from the start, with its button.)
    if (!window || WindowMenuBar::forWindow(window) || GTK_IS_OFFSCREEN_WINDOW(window) || gtk_window_get_modal(window)
        || gtk_window_get_transient_for(window) || gtk_window_get_window_type(window) != GTK_WINDOW_TOPLEVEL)
        return;
    if (auto menu = NativeMenu::mainMenu())
        WindowMenuBar::install(window, std::move(menu));
}

void PDApplication::presentVisibleWindows()
{
    GtkWindow* key = ResponderChain::shared().keyWindow();
    if (key && gtk_widget_get_visible(GTK_WIDGET(key))) {
        gtk_window_present(key);
        return;
    }
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL && !GTK_IS_OFFSCREEN_WINDOW(window)
            && gtk_widget_get_visible(GTK_WIDGET(window))) {
            gtk_window_present(window);
            break;
        }
    }
    g_list_free(windows);
}

void PDApplication::welcomeWindowDidClose()
{
    step("welcomeWindowDidClose");
    // Once the main loop has settled: a document may be on its way (its window shows later).
    MainQueue::whenIdle([this] {
        if (isTerminating_ || runningApplication != this)
            return;
        if (DocumentControllerHook::documentCount() == 0 && !Window::isAnyWindowShown())
            terminate(nullptr);
    });
}

} // namespace kx
