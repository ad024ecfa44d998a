#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include <gtest/gtest.h>

#include "support/StandInBackend.h"

namespace kxtest {

class ApplicationProcess;
struct ApplicationHome;
struct Clickable;

// The titles of the start window and the login window.
inline constexpr const char* startTitle = "Welcome to Korvel X";
inline constexpr const char* loginTitle = "Sign In to Korvel X";
// How long a window of the application may take to appear.
inline constexpr auto windowTimeout = std::chrono::seconds(30);
// The title of the preview window of the document `document` (its name, never " — Edited").
inline std::string previewWindow(const std::string& document)
{
    return document + " \u2014 Preview";
}

// The stand-in back end of the test program.
StandInBackend& applicationBackend();
// Signs a fresh user in through a second process's link, as the login page would.
void signInThroughSecondProcess(const ApplicationHome& home, ApplicationProcess& primary);
// The design's document of a zip project, as stored.
std::string storedDocument(const std::filesystem::path& package);
// Types `text` (one word) into the editor of the window `title` as a user would, over the name
// of the frame `frame` from the top, until that field holds the whole text.
bool typeIntoEditor(ApplicationProcess& app, const std::string& title, const std::string& text, std::size_t frame = 0);
// The same, until `landed` says where it went, typing again where no key took.
bool typeUntil(ApplicationProcess& app, const std::string& title, const std::string& text, const std::function<bool()>& landed,
               std::size_t frame = 0);
// Launches `app` and signs a fresh user in through a login link: true once the start window
// shows.
bool launchSignedIn(ApplicationProcess& app, const ApplicationHome& home);
// The same, then the folder `project` handed over on the command line, as a file manager does:
// true once its window shows.
bool launchSignedInWithAFolderProject(ApplicationProcess& app, const ApplicationHome& home, const std::filesystem::path& project);
// Writes a folder project's document, one frame of `text`, as a pull or a sync client does.
void writeFolderDocument(const std::filesystem::path& project, const std::string& text);
// The files of a folder that a user sees (not the lock, the log, ".git"), with their content.
std::map<std::string, std::string> visibleFiles(const std::filesystem::path& folder);
// Types `path` into the save panel on screen, as a user does, and saves.
::testing::AssertionResult saveThroughTheOpenPanel(ApplicationProcess& app, const std::filesystem::path& path);
// Launches the application again in `home` and ends it: whether it showed the window `title`
// (an edited document's title is that, " \u2014 Edited" after it), edited or not as `edited` says.
::testing::AssertionResult relaunchShows(const ApplicationHome& home, const std::string& title, bool edited = false);
// The drafts the application keeps of unsaved work.
std::vector<std::filesystem::path> drafts(const ApplicationHome& home);
// After the end: the frame name `typed` of project `name` is in one draft, which the next
// launch shows.
void expectEditKeptInADraft(const ApplicationHome& home, const std::string& name, const std::string& typed);
// The web view of the preview of `document`, once it shows the project server's preview page.
std::optional<Clickable> previewPage(ApplicationProcess& app, const std::string& document);
// The web processes of `app` (its pages).
std::vector<pid_t> webProcessesOf(const ApplicationProcess& app);
// The enabled items of the pop-up menus on screen.
std::vector<std::string> popupItems(ApplicationProcess& app);

} // namespace kxtest
