// Projects as a user makes them in the running application, by keyboard: a new document from
// the start window, typing in the editor, Save As a zip project (after a name no project can
// have), closing, reopening it from the start window's recent list; a failed open from the
// panel; an edited untitled document kept across quitting; and folder projects worked in place.
#include <gtest/gtest.h>

#include <gio/gio.h>
#include <glib.h>
#include <signal.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "ApplicationProcess.h"
#include "ApplicationTests.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/ChildProcess.h"
#include "support/ProjectServerSetup.h"
#include "support/SmallDisk.h"
#include "support/Spin.h"

namespace fs = std::filesystem;
using kxtest::ApplicationHome;
using kxtest::ApplicationProcess;
using kxtest::startTitle;
using kxtest::windowTimeout;
namespace Display = kxtest::Display;
using kxtest::storedDocument;
using kxtest::typeIntoEditor;
using kxtest::visibleFiles;
using kxtest::writeFolderDocument;
using namespace std::chrono_literals;

namespace kxtest {

// The design's document of a zip project, as stored.
std::string storedDocument(const fs::path& package)
{
    return runProgram({"unzip", "-p", package.string(), "design/document.json"}).output;
}

// The fields of the page in the window `title` (edited or not): their values, and the frames'
// name fields from the top, where they are now.
struct PageFields {
    std::vector<std::string> values;
    std::vector<Clickable> names;
};

PageFields pageFields(ApplicationProcess& app, const std::string& title)
{
    const std::string edited = title + " \u2014 Edited";
    PageFields fields;
    for (const auto& item : app.clickables()) {
        if (item.window != title && item.window != edited)
            continue;
        if (item.kind == "value")
            fields.values.push_back(item.name);
        else if (item.kind == "page" && item.name == "Frame name" && item.width > 0)
            fields.names.push_back(item);
    }
    std::sort(fields.names.begin(), fields.names.end(), [](const auto& a, const auto& b) { return a.y < b.y; });
    return fields;
}

// Types `text` over the name of the frame `frame` (from the top) in the editor of the window
// `title`, as a user would: a click into the field, its text selected, the text typed. False when
// the window or the field (the page may still be loading) is not there.
bool typeOverName(ApplicationProcess& app, const std::string& title, const std::string& text, std::size_t frame)
{
    const auto focus = [&] { return Display::focusWindow(title) || Display::focusWindow(title + " \u2014 Edited"); };
    std::vector<Clickable> names;
    if ((!focus() && !kxtest::spinUntil(focus, 5s))
        || !kxtest::spinUntil([&] { return (names = pageFields(app, title).names).size() > frame; }, windowTimeout))
        return false;
    Display::click(names[frame]);
    Display::pressKey("End");
    Display::pressKey("Home", false, true);
    Display::typeText(text);
    return true;
}

// Whether a field of the page in the window `title` holds `text`, whole.
bool pageFieldHolds(ApplicationProcess& app, const std::string& title, const std::string& text)
{
    const auto values = pageFields(app, title).values;
    return std::find(values.begin(), values.end(), text) != values.end();
}

// Typed until a field holds all of it.
bool typeIntoEditor(ApplicationProcess& app, const std::string& title, const std::string& text, std::size_t frame)
{
    const std::string edited = title + " \u2014 Edited";
    // Edited, and for good: a new document's title may say so for a moment while it loads.
    return typeUntil(app, title, text, [&] { return pageFieldHolds(app, title, text); }, frame)
        && kxtest::spinUntil([&] { return Display::hasVisibleWindow(edited); }, windowTimeout)
        && !kxtest::spinUntil([&] { return !Display::hasVisibleWindow(edited); }, 1s);
}

bool typeUntil(ApplicationProcess& app, const std::string& title, const std::string& text, const std::function<bool()>& landed,
               std::size_t frame)
{
    for (int attempt = 0; attempt < 8 && !landed(); ++attempt) {
        if (!typeOverName(app, title, text, frame))
            return false;
        // Typed again only where no key took (a busy machine's page may lose the first keys of a
        // burst): once the page has the text, where it goes is waited for however long a busy
        // machine makes it.
        if (kxtest::spinUntil([&] { return landed() || pageFieldHolds(app, title, text); }, 5s))
            (void)kxtest::spinUntil(landed, windowTimeout);
    }
    return landed();
}

// Launches the application and signs a fresh user in through a login link: true once the
// start window shows.
bool launchSignedIn(ApplicationProcess& app, const ApplicationHome& home)
{
    if (!app.launch() || !app.waitForStep("showLoginWindow"))
        return false;
    signInThroughSecondProcess(home, app);
    return kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout);
}

// The same, then a new document from the start window, as a user makes it: true once its
// window shows.
bool launchSignedInWithANewDocument(ApplicationProcess& app, const ApplicationHome& home)
{
    if (!launchSignedIn(app, home) || !Display::focusWindow(startTitle))
        return false;
    Display::pressControl('n');
    return kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout);
}

// Writes a folder project's document, one frame of `text`, as a pull or a sync client does: a
// new file renamed over the old one. The project is under version control, as such a project
// is: no word about that comes up.
void writeFolderDocument(const fs::path& project, const std::string& text)
{
    const fs::path document = project / "design" / "document.json";
    fs::create_directories(document.parent_path());
    fs::create_directories(project / ".git");
    const fs::path next = document.string() + ".incoming";
    kxtest::writeFile(next, R"({"version":1,"frames":[{"id":"a","name":"Home","text":")" + text + R"("}]})");
    fs::rename(next, document);
}

// The same, then the folder `project` handed over on the command line, as a file manager
// does: true once its window shows.
bool launchSignedInWithAFolderProject(ApplicationProcess& app, const ApplicationHome& home, const fs::path& project)
{
    ApplicationProcess opener(home, kxtest::applicationBackend().url(), {project.string()});
    return launchSignedIn(app, home) && opener.launch() && opener.waitForExit()
        && kxtest::spinUntil([&] { return Display::hasVisibleWindow(project.filename().string()); }, windowTimeout);
}

// The files of a folder that a user sees (not the lock, the log, ".git"), with their content.
std::map<std::string, std::string> visibleFiles(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (const auto path = fs::relative(item.path(), folder).string(); item.is_regular_file() && !path.starts_with('.'))
            files[path] = kx::FileSystem::readFile(item.path()).value_or("");
    return files;
}

// What the fields of `window` on screen hold, each in brackets; empty when it shows none.
std::string panelFields(ApplicationProcess& app, const std::string& window)
{
    std::string fields;
    for (const auto& item : app.clickables())
        if (item.kind == "entry" && item.window == window)
            fields += "[" + item.name + "]";
    return fields;
}

// Types `path` over the field of the panel `window` on screen, as a user does: once a field
// shows, and again where none came to hold the path (on a busy machine the first keys may come
// before the field has the focus); whether one does, and what the fields held when none did.
::testing::AssertionResult typeIntoPanel(ApplicationProcess& app, const std::string& window, const fs::path& path)
{
    const std::string holding = "[" + path.string() + "]";
    std::string fields;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!kxtest::spinUntil([&] { return !(fields = panelFields(app, window)).empty(); }, windowTimeout))
            return ::testing::AssertionFailure() << "no field in " << window;
        if (!Display::focusWindow(window))
            return ::testing::AssertionFailure() << window << " could not take the keys";
        Display::pressKey("a", true);
        Display::typeText(path.string());
        // The field takes the keys one by one, which a loaded machine makes take seconds: typed
        // again only once the fields have stopped changing without the path.
        auto changed = std::chrono::steady_clock::now();
        (void)kxtest::spinUntil([&] {
            if (std::string now = panelFields(app, window); now != fields) {
                fields = std::move(now);
                changed = std::chrono::steady_clock::now();
            }
            return fields.find(holding) != std::string::npos || std::chrono::steady_clock::now() - changed > 5s;
        }, windowTimeout);
        if (fields.find(holding) != std::string::npos)
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the fields of " << window << " hold " << fields << ", not " << path;
}

// Types `path` into the save panel on screen, as a user does, and saves.
::testing::AssertionResult saveThroughTheOpenPanel(ApplicationProcess& app, const fs::path& path)
{
    if (!kxtest::spinUntil([] { return Display::hasVisibleWindow("Save"); }, windowTimeout))
        return ::testing::AssertionFailure() << "no save panel";
    auto typed = typeIntoPanel(app, "Save", path);
    if (typed)
        Display::pressKey("Return");
    return typed;
}

// Save As (Shift+Ctrl+S) into `path`, typed into the save panel.
::testing::AssertionResult saveAsThroughThePanel(ApplicationProcess& app, const fs::path& path)
{
    Display::pressKey("s", true, true);
    return saveThroughTheOpenPanel(app, path);
}

std::vector<fs::path> drafts(const ApplicationHome& home)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(home.data() / "com.korvel.x" / "Drafts", ec))
        found.push_back(item.path());
    return found;
}

// After the end: the frame name `typed` of project `name` is in one draft, which the next
// launch shows.
void expectEditKeptInADraft(const ApplicationHome& home, const std::string& name, const std::string& typed)
{
    const auto kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(R"("name":")" + typed + '"'), std::string::npos) << storedDocument(kept.front());
    EXPECT_TRUE(relaunchShows(home, name + " (unsaved changes)", true));
}

::testing::AssertionResult relaunchShows(const ApplicationHome& home, const std::string& title, bool edited)
{
    ApplicationProcess again(home, kxtest::applicationBackend().url());
    if (!again.launch())
        return ::testing::AssertionFailure() << "no launch";
    const std::string shownTitle = edited ? title + " \u2014 Edited" : title;
    const bool shown = kxtest::spinUntil([&] { return Display::hasVisibleWindow(shownTitle); }, windowTimeout)
        && (edited || !Display::hasVisibleWindow(title + " \u2014 Edited"));
    again.signal(SIGTERM);
    if (!again.waitForExit(windowTimeout))
        return ::testing::AssertionFailure() << "the relaunched application did not end";
    if (!shown)
        return ::testing::AssertionFailure() << "the next launch did not show " << title << (edited ? " edited" : " saved");
    return ::testing::AssertionSuccess();
}

std::vector<pid_t> webProcessesOf(const ApplicationProcess& app)
{
    std::vector<pid_t> pages;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator("/proc", ec)) {
        const pid_t pid = std::atoi(item.path().filename().c_str());
        // "PID (NAME) STATE PARENT ..."
        const std::string stat = pid > 0 ? kx::FileSystem::readFile(item.path() / "stat").value_or("") : "";
        if (stat.find(" (WebKitWebProces) ") != std::string::npos && std::atoi(stat.c_str() + stat.rfind(')') + 4) == app.pid())
            pages.push_back(pid);
    }
    return pages;
}

} // namespace kxtest

namespace {

// Stops the web processes of `app` (its pages), as a page that hangs holds them, until resumed
// or gone.
class StoppedPages {
public:
    explicit StoppedPages(const ApplicationProcess& app)
    {
        for (const pid_t pid : webProcessesOf(app))
            if (::kill(pid, SIGSTOP) == 0)
                pages_.push_back(pid);
    }
    ~StoppedPages() { resume(); }
    bool any() const { return !pages_.empty(); }
    void resume()
    {
        for (pid_t pid : std::exchange(pages_, {}))
            ::kill(pid, SIGCONT);
    }

private:
    std::vector<pid_t> pages_;
};

// The desktop's session manager as GTK meets it on the session bus: it registers the
// application as a client, and ends the session as a logout does (QueryEndSession, then
// EndSession and Stop, sent to the client alone).
class StandInSessionManager {
public:
    StandInSessionManager()
    {
        static const char* xml = R"(<node>
  <interface name="org.gnome.SessionManager">
    <method name="RegisterClient"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="o" direction="out"/></method>
    <method name="UnregisterClient"><arg type="o" direction="in"/></method>
    <method name="Inhibit"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="u" direction="out"/></method>
    <method name="Uninhibit"><arg type="u" direction="in"/></method>
    <method name="IsInhibited"><arg type="u" direction="in"/><arg type="b" direction="out"/></method>
  </interface>
  <interface name="org.gnome.SessionManager.ClientPrivate">
    <method name="EndSessionResponse"><arg type="b" direction="in"/><arg type="s" direction="in"/></method>
  </interface>
</node>)";
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        info_ = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const char* sender, const char*, const char*, const char* method, GVariant*,
               GDBusMethodInvocation* invocation, gpointer data) {
                auto* self = static_cast<StandInSessionManager*>(data);
                const std::string name = method;
                if (name == "RegisterClient") {
                    self->client_ = sender;
                    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", clientPath));
                } else if (name == "Inhibit") {
                    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 1u));
                } else if (name == "IsInhibited") {
                    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
                } else {
                    if (name == "EndSessionResponse")
                        ++self->responses_;
                    g_dbus_method_invocation_return_value(invocation, nullptr);
                }
            },
            nullptr, nullptr, {}};
        managerObject_ = g_dbus_connection_register_object(bus_, "/org/gnome/SessionManager", info_->interfaces[0], &vtable,
                                                           this, nullptr, nullptr);
        clientObject_ = g_dbus_connection_register_object(bus_, clientPath, info_->interfaces[1], &vtable, this, nullptr, nullptr);
        owner_ = g_bus_own_name_on_connection(bus_, "org.gnome.SessionManager", G_BUS_NAME_OWNER_FLAGS_NONE,
                                              [](GDBusConnection*, const char*, gpointer data) {
                                                  static_cast<StandInSessionManager*>(data)->owned_ = true;
                                              },
                                              nullptr, this, nullptr);
    }
    ~StandInSessionManager()
    {
        g_bus_unown_name(owner_);
        g_dbus_connection_unregister_object(bus_, managerObject_);
        g_dbus_connection_unregister_object(bus_, clientObject_);
        g_dbus_node_info_unref(info_);
        g_object_unref(bus_);
    }
    bool owned() const { return owned_; }
    bool registered() const { return !client_.empty(); }
    int responses() const { return responses_; }

    void emit(const char* signal, GVariant* parameters)
    {
        g_dbus_connection_emit_signal(bus_, client_.c_str(), clientPath, "org.gnome.SessionManager.ClientPrivate", signal,
                                      parameters, nullptr);
    }

private:
    static constexpr const char* clientPath = "/org/gnome/SessionManager/Client1";
    GDBusConnection* bus_ = nullptr;
    GDBusNodeInfo* info_ = nullptr;
    guint managerObject_ = 0, clientObject_ = 0, owner_ = 0;
    bool owned_ = false;
    std::string client_;
    int responses_ = 0;
};

} // namespace

TEST(ApplicationDocuments, ANewProjectIsSavedClosedAndReopenedFromTheStartWindow)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path projects = home.folder / "projects";
    fs::create_directories(projects);
    const fs::path project = projects / "landing.korvelx";

    ApplicationProcess app(home, kxtest::applicationBackend().url(), {}, {}, {{"HOME", home.folder.path().string()}});
    ASSERT_TRUE(launchSignedIn(app, home));

    // New, from the start window: the document's window takes its place.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('n');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(startTitle); }));
    ASSERT_TRUE(typeIntoEditor(app, "Untitled", "Aboard"));

    // Save As, a zip project, by typing a whole path without the extension into the panel's
    // name, once Return: first a name that no project can have, refused over the panel, which
    // stays for another; then one from the home folder.
    ASSERT_TRUE(saveAsThroughThePanel(app, projects / "Back\\slash"));
    ASSERT_TRUE(app.waitForClickable("text", "(untitled)", "The file \u201CBack\\slash.korvelx\u201D has a name that can\u2019t be stored in a project."));
    auto ok = app.waitForClickable("button", "(untitled)", "OK");
    ASSERT_TRUE(ok);
    Display::click(*ok);
    ASSERT_TRUE(saveThroughTheOpenPanel(app, "~/projects/landing"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("landing"); }, windowTimeout));
    EXPECT_NE(storedDocument(project).find("Aboard"), std::string::npos) << storedDocument(project);
    // Nothing else: neither the refused name nor a name without the extension.
    EXPECT_EQ(std::distance(fs::directory_iterator(projects), fs::directory_iterator()), 1);

    // Closing it brings the start window back, with the project first in its list.
    ASSERT_TRUE(Display::focusWindow("landing"));
    Display::pressControl('w');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    EXPECT_FALSE(Display::hasVisibleWindow("landing"));
    EXPECT_FALSE(app.exited());

    // Return opens the selected recent document.
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressKey("Return");
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("landing"); }, windowTimeout));
    EXPECT_TRUE(kxtest::spinUntil([] { return !Display::hasVisibleWindow(startTitle); }));

    // Quitting with it open leaves the file as saved.
    ASSERT_TRUE(Display::focusWindow("landing"));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(app.status(), 0);
    EXPECT_NE(storedDocument(project).find("Aboard"), std::string::npos);
}

TEST(ApplicationDocuments, AFailedOpenFromThePanelBringsBackTheStartWindowAlsoWhenItIsOffAtStartUp)
{
    ApplicationHome home;
    kx::UserDefaults(home.config() / "com.korvel.x" / "defaults.json").setBool("WelcomeWindowShowOnStartup", false);
    const fs::path broken = home.folder / "broken.korvelx";
    ASSERT_FALSE(kx::FileSystem::atomicWrite(broken, std::string_view("no zip at all")));

    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(launchSignedIn(app, home));

    // "Open…" closes the start window; the panel opens the damaged project by its path. The
    // button is drawn by the window: it stands in the sidebar's bottom bar, right of the page.
    std::optional<kxtest::Clickable> page;
    ASSERT_TRUE(kxtest::spinUntil([&] {
        for (const auto& clickable : app.clickables())
            if (clickable.kind == "web" && clickable.window == startTitle && clickable.width > 100)
                page = clickable;
        return page.has_value();
    }, windowTimeout));
    Display::click({"button", startTitle, "Open\u2026", page->x + page->width + 2, page->y + page->height - 30, 116, 28,
                    page->scale});
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Open"); }, windowTimeout));
    EXPECT_FALSE(Display::hasVisibleWindow(startTitle));
    // Typed into the location field, which Ctrl+L shows; where the panel stays all the same,
    // the user types again.
    std::optional<kxtest::Clickable> ok;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        ASSERT_TRUE(Display::focusWindow("Open"));
        Display::pressKey("l", true);
        ASSERT_TRUE(typeIntoPanel(app, "Open", broken));
        const auto accept = app.waitForClickable("button", "Open", "_Open");
        ASSERT_TRUE(accept);
        Display::click(*accept);
        // The error is told; once it is answered, with nothing open, the start window is back.
        ok = app.waitForClickable("button", "(untitled)", "OK", 10s);
    }
    ASSERT_TRUE(ok);
    Display::click(*ok);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    kxtest::spinFor(1s);
    EXPECT_FALSE(app.exited()) << "the application ended";
    EXPECT_TRUE(Display::hasVisibleWindow(startTitle));

    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(windowTimeout));
}

TEST(ApplicationDocuments, AnEditedUntitledDocumentSurvivesQuittingAndComesBackAtTheNextLaunch)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const std::string typed = R"("name":"Z")";
    {
        ApplicationProcess app(home, kxtest::applicationBackend().url());
        ASSERT_TRUE(launchSignedInWithANewDocument(app, home));
        // One letter, so that the window's edited title says the page has taken all of it (the
        // keys of a burst reach the page one by one, and a quit could come between them).
        ASSERT_TRUE(typeIntoEditor(app, "Untitled", "Z"));

        // Quit at once, long before the minute of an autosave: quitting writes the draft.
        Display::pressControl('q');
        ASSERT_TRUE(app.waitForExit(windowTimeout));
        EXPECT_EQ(app.status(), 0);
    }
    auto kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(typed), std::string::npos) << storedDocument(kept.front());

    // The next launch shows the document again, unsaved still, in place of the start window.
    ApplicationProcess again(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(again.launch());
    ASSERT_TRUE(again.waitForStep("restoreDocuments"));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled \u2014 Edited"); }, windowTimeout));
    EXPECT_FALSE(again.hasStep("applicationShouldOpenUntitledFile"));
    EXPECT_FALSE(Display::hasVisibleWindow(startTitle));

    // Ended by a signal this time: the draft is still there, whole.
    again.signal(SIGTERM);
    ASSERT_TRUE(again.waitForExit(windowTimeout));
    kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(typed), std::string::npos);
}

TEST(ApplicationDocuments, ASignalWhileASavePanelIsOpenClosesItKeepsTheWorkAndEnds)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(launchSignedInWithANewDocument(app, home));
    ASSERT_TRUE(typeIntoEditor(app, "Untitled", "Q"));

    // The save panel waits for the user in a loop of its own: a signal must not wait with it.
    Display::pressKey("s", true, true);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Save"); }, windowTimeout));
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout)) << "the application waited for the panel";
    EXPECT_EQ(app.status(), 0);
    // Saved without asking, as a draft; nothing was saved where the panel pointed.
    auto kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(R"("name":"Q")"), std::string::npos) << storedDocument(kept.front());
}

TEST(ApplicationDocuments, TheEndOfTheDesktopSessionClosesAnOpenPanelKeepsTheWorkAndEnds)
{
    KX_REQUIRE_PROJECT_SERVER();
    StandInSessionManager session;
    ASSERT_TRUE(kxtest::spinUntil([&] { return session.owned(); }));
    ApplicationHome home;
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(app.launch());
    ASSERT_TRUE(app.waitForStep("showLoginWindow"));
    ASSERT_TRUE(session.registered());
    signInThroughSecondProcess(home, app);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    ASSERT_TRUE(Display::focusWindow(startTitle));
    Display::pressControl('n');
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Untitled"); }, windowTimeout));
    ASSERT_TRUE(typeIntoEditor(app, "Untitled", "L"));
    Display::pressKey("s", true, true);
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Save"); }, windowTimeout));

    // A logout: asked, then ended. Nobody answers the panel.
    session.emit("QueryEndSession", g_variant_new("(u)", 0u));
    ASSERT_TRUE(kxtest::spinUntil([&] { return session.responses() >= 1; }));
    EXPECT_FALSE(app.exited());
    session.emit("EndSession", g_variant_new("(u)", 0u));
    session.emit("Stop", nullptr);
    ASSERT_TRUE(app.waitForExit(windowTimeout)) << "the application waited for the panel";
    EXPECT_EQ(app.status(), 0);
    EXPECT_TRUE(app.hasStep("sessionEnd"));
    auto kept = drafts(home);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(storedDocument(kept.front()).find(R"("name":"L")"), std::string::npos) << storedDocument(kept.front());
}

TEST(ApplicationDocuments, AnEditIsAutosavedAMinuteLaterWhileBackupsRunMoreOften)
{
    KX_REQUIRE_PROJECT_SERVER();
    // A minute of three seconds, backups every 0.7 s: each backup writes the edit out to the
    // working folder, which must not count as the user's edit undone and start the minute again.
    ApplicationHome home;
    const fs::path project = home.folder / "timed.korvelx";
    ApplicationProcess app(home, kxtest::applicationBackend().url(), {}, {},
                           {{"KX_TEST_MINUTE_MS", "3000"}, {"KX_TEST_BACKUP_MS", "700"}});
    ASSERT_TRUE(launchSignedInWithANewDocument(app, home));
    ASSERT_TRUE(typeIntoEditor(app, "Untitled", "First"));
    ASSERT_TRUE(saveAsThroughThePanel(app, project));
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("timed"); }, windowTimeout));

    // One letter: the edited title then says that the page has all of it (keys typed while a
    // slow page redraws may be lost).
    ASSERT_TRUE(typeIntoEditor(app, "timed", "Q"));
    // Saved in place by the autosave, and no longer edited.
    EXPECT_TRUE(kxtest::spinUntil([&] { return storedDocument(project).find('Q') != std::string::npos; }, 15s))
        << storedDocument(project);
    EXPECT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("timed") && !Display::hasVisibleWindow("timed \u2014 Edited"); }));
    // The backups did run meanwhile.
    int backups = 0;
    std::error_code ec;
    for (auto item = fs::recursive_directory_iterator(home.cache(), ec); !ec && item != fs::recursive_directory_iterator(); item.increment(ec))
        backups += item->path().parent_path().filename() == ".backups" && item->path().extension() == ".zip";
    EXPECT_GE(backups, 2);
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
}

TEST(ApplicationDocuments, AFolderProjectTakesAnotherProgramsVersionAndNoBackupWritesOverIt)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = home.folder / "Site";
    const fs::path document = project / "design" / "document.json";
    writeFolderDocument(project, "Mine");

    ApplicationProcess app(home, kxtest::applicationBackend().url(), {}, {}, {{"KX_TEST_BACKUP_MS", "700"}});
    ASSERT_TRUE(launchSignedInWithAFolderProject(app, home, project));
    kxtest::spinFor(1500ms);

    // Unedited: another program's version stays through several backups.
    writeFolderDocument(project, "Theirs");
    kxtest::spinFor(3s);
    EXPECT_NE(kx::FileSystem::readFile(document).value_or("").find("Theirs"), std::string::npos);
    EXPECT_FALSE(Display::hasVisibleWindow("Site \u2014 Edited"));

    // The editor shows it: an edit, written to the folder by the next backup, keeps its text.
    // (The title says "Edited" only until then: the folder is the user's file.)
    ASSERT_TRUE(kxtest::typeUntil(app, "Site", "Renamed", [&] {
        return kx::FileSystem::readFile(document).value_or("").find("Renamed") != std::string::npos;
    }));
    const std::string saved = kx::FileSystem::readFile(document).value_or("");
    EXPECT_NE(saved.find("Theirs"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("Mine"), std::string::npos) << saved;
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
}

TEST(ApplicationDocuments, AFolderProjectOnAFullDiskKeepsItsEditAsADraftWhenTheUserQuitsAnyway)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    kxtest::SmallDisk disk(home.folder / "disk", 4 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here (no rights to)";
    const fs::path project = home.folder / "disk" / "Fold";
    writeFolderDocument(project, "Mine");
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(launchSignedInWithAFolderProject(app, home, project));
    // One letter: the edited title then says that the page has all of it.
    ASSERT_TRUE(typeIntoEditor(app, "Fold", "Q"));
    disk.fill();
    const auto before = visibleFiles(project);

    // The edit cannot be saved; the user quits all the same, told what to free and what is kept.
    Display::pressControl('q');
    const auto quitAnyway = app.waitForClickable("button", "(untitled)", "Quit Anyway");
    ASSERT_TRUE(quitAnyway);
    std::string told;
    for (const auto& item : app.clickables())
        told += item.kind == "text" && item.window == "(untitled)" ? item.name + "\n" : "";
    EXPECT_NE(told.find("The disk is full: free some space on it, then save again. If you quit anyway, your changes are kept as a "
                        "draft that opens at the next launch."),
              std::string::npos)
        << told;
    Display::click(*quitAnyway);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(visibleFiles(project), before);
    disk.makeRoom();
    expectEditKeptInADraft(home, "Fold", "Q");
}

TEST(ApplicationDocuments, AQuitSoonAfterASaveFailedOnAHungPageAsksNamingTheEditorAndTheEditSurvives)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = home.folder / "Stalled";
    writeFolderDocument(project, "Mine");
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(launchSignedInWithAFolderProject(app, home, project));
    // One letter: the edited title then says that the page has all of it.
    ASSERT_TRUE(typeIntoEditor(app, "Stalled", "Q"));

    // The page hangs: Ctrl+S fails once its wait is over, and the quit right after it joins the
    // write that still waits for the page, until the page's own time-out.
    StoppedPages hung(app);
    ASSERT_TRUE(hung.any());
    const auto before = visibleFiles(project);
    Display::pressControl('s');
    auto ok = app.waitForClickable("button", "(untitled)", "OK");
    ASSERT_TRUE(ok);
    Display::click(*ok);
    ASSERT_TRUE(Display::focusWindow("Stalled \u2014 Edited"));
    Display::pressControl('q');
    // Quitting anyway would lose what only the page holds: a draft asks the page too.
    ASSERT_TRUE(app.waitForClickable("text", "(untitled)", "The editor did not hand over the document in time: it is busy or has stopped "
                                                           "answering. Your changes are still in the editor. Try saving again. If you "
                                                           "quit anyway, the changes made since the last save are lost."));
    ASSERT_TRUE(app.waitForClickable("button", "(untitled)", "Quit Anyway"));
    auto stay = app.waitForClickable("button", "(untitled)", "Don't Quit");
    ASSERT_TRUE(stay);
    Display::click(*stay);
    EXPECT_FALSE(kxtest::spinUntil([&] { return app.exited(); }, 2s));
    EXPECT_EQ(visibleFiles(project), before);
    EXPECT_TRUE(drafts(home).empty());

    // Once the page answers again, quitting saves the edit in place without a question.
    hung.resume();
    ASSERT_TRUE(Display::focusWindow("Stalled \u2014 Edited"));
    Display::pressControl('q');
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_NE(kx::FileSystem::readFile(project / "design" / "document.json").value_or("").find(R"("name":"Q")"), std::string::npos);
    EXPECT_TRUE(drafts(home).empty());
    EXPECT_TRUE(relaunchShows(home, "Stalled"));
}

TEST(ApplicationDocuments, ASignalWhileTheUserChoosesBetweenTheirEditAndAnotherProgramsKeepsTheEditAsADraft)
{
    KX_REQUIRE_PROJECT_SERVER();
    ApplicationHome home;
    const fs::path project = home.folder / "Fold";
    writeFolderDocument(project, "Mine");
    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(launchSignedInWithAFolderProject(app, home, project));
    ASSERT_TRUE(typeIntoEditor(app, "Fold", "Q"));

    // Another program's version comes while the edit is unsaved: the user is asked which stays,
    // and the application is ended before an answer.
    writeFolderDocument(project, "Theirs");
    ASSERT_TRUE(app.waitForClickable("button", "(untitled)", "Keep My Changes"));
    const auto before = visibleFiles(project);
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit(windowTimeout));
    EXPECT_EQ(visibleFiles(project), before);
    expectEditKeptInADraft(home, "Fold", "Q");
}

TEST(ApplicationDocuments, AProjectWhoseDocumentWasEmptiedKeepsItsImagesThroughEditsSavesAndClosesOfTwoLaunches)
{
    KX_REQUIRE_PROJECT_SERVER();
    // A folder project (worked in place) whose document a failed write emptied.
    ApplicationHome home;
    const fs::path project = home.folder / "Emptied";
    const fs::path document = project / "design" / "document.json";
    kxtest::writeFile(document, "");
    kxtest::writeFile(project / "design" / "images" / "logo.png", "the logo");
    kxtest::writeFile(project / "design" / "assets" / "notes.txt", "the notes");
    fs::create_directories(project / ".git");

    ApplicationProcess app(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(launchSignedInWithAFolderProject(app, home, project));

    // A frame added (the page may still be loading the document: the user clicks again), saved
    // and closed.
    const std::string edited = "Emptied \u2014 Edited";
    for (int attempt = 0; attempt < 10 && !Display::hasVisibleWindow(edited); ++attempt) {
        auto add = app.waitForClickable("page", "Emptied", "add");
        ASSERT_TRUE(add);
        Display::click(*add);
        (void)kxtest::spinUntil([&] { return Display::hasVisibleWindow(edited); }, 3s);
    }
    auto saveAndClose = [&](ApplicationProcess& running, const std::string& written) {
        ASSERT_TRUE(Display::focusWindow(Display::hasVisibleWindow(edited) ? edited : "Emptied"));
        Display::pressControl('s');
        ASSERT_TRUE(kxtest::spinUntil([&] {
            return kx::FileSystem::readFile(document).value_or("").find(written) != std::string::npos && Display::hasVisibleWindow("Emptied");
        }, windowTimeout));
        ASSERT_TRUE(Display::focusWindow("Emptied"));
        Display::pressControl('w');
        ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
        EXPECT_EQ(kx::FileSystem::readFile(project / "design" / "images" / "logo.png"), "the logo") << written;
        EXPECT_EQ(kx::FileSystem::readFile(project / "design" / "assets" / "notes.txt"), "the notes") << written;
        running.signal(SIGTERM);
        ASSERT_TRUE(running.waitForExit(windowTimeout));
    };
    saveAndClose(app, "\"name\"");

    // The next launch reads the document that the first one wrote, which names none of them
    // either: an edit, a save and a close keep them all the same.
    ApplicationProcess again(home, kxtest::applicationBackend().url());
    ASSERT_TRUE(again.launch());
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow(startTitle); }, windowTimeout));
    ApplicationProcess opener(home, kxtest::applicationBackend().url(), {project.string()});
    ASSERT_TRUE(opener.launch() && opener.waitForExit());
    ASSERT_TRUE(kxtest::spinUntil([] { return Display::hasVisibleWindow("Emptied"); }, windowTimeout));
    ASSERT_TRUE(typeIntoEditor(again, "Emptied", "Later"));
    saveAndClose(again, "Later");
}
