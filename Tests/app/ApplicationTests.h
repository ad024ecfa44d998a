#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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
// Types `text` (one word: a space would press a button) into the editor of the window `title`
// as a user would: Tab from field to field until one takes the text.
bool typeIntoEditor(const std::string& title, const std::string& text);
// The web view of the preview of `document`, once it shows the project server's preview page.
std::optional<Clickable> previewPage(ApplicationProcess& app, const std::string& document);
// The enabled items of the pop-up menus on screen.
std::vector<std::string> popupItems(ApplicationProcess& app);

} // namespace kxtest
