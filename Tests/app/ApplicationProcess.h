// One run of the application (kx_application_host) with settings, data and caches of its own
// in the "local" environment against a stand-in back end, and what the tests see of it: the
// steps it wrote, its windows on the X display, its end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Process.h"
#include "support/TestPaths.h"

namespace kxtest {

// Settings, data and caches that several runs share (a user's home).
struct ApplicationHome {
    TemporaryDirectory folder;
    std::filesystem::path config() const { return folder / "config"; }
    std::filesystem::path data() const { return folder / "data"; }
    std::filesystem::path cache() const { return folder / "cache"; }
};

// Something a user can click, as the application lists it (Tests/app/host/ClickableWidgets.h).
struct Clickable {
    std::string kind;   // "button", "menuitem", "web" (a web view), "page" (a button in a page), "text" (a label)
    std::string window; // the window's title, "(popup)" for a pop-up menu, "(untitled)" for another without
    std::string name;   // label, tooltip or page element id
    int x = 0, y = 0, width = 0, height = 0; // on the screen, in the window's points
    int scale = 1;                           // the window's scale: X's root pixels per point
};

class ApplicationProcess {
public:
    ApplicationProcess(const ApplicationHome& home, const std::string& backendURL, std::vector<std::string> arguments = {},
                       std::filesystem::path executable = {}, std::map<std::string, std::string> environment = {});
    ~ApplicationProcess();

    static std::filesystem::path hostExecutable();

    bool launch();
    pid_t pid() const;
    std::vector<std::string> steps() const;
    bool hasStep(const std::string& step) const;
    int count(const std::string& step) const;
    bool waitForStep(const std::string& step, std::chrono::seconds timeout = std::chrono::seconds(30));
    // Waits for the end: the exit status, or nullopt on time-out.
    bool waitForExit(std::chrono::seconds timeout = std::chrono::seconds(30));
    bool exited() const { return ended_; }
    kx::Process::TerminationReason reason() const { return reason_; }
    int status() const { return status_; }
    void signal(int signalNumber) const;
    // What can be clicked in its windows now.
    std::vector<Clickable> clickables();
    // Waits for a clickable `name` of `kind` in a window titled `window`, at rest.
    std::optional<Clickable> waitForClickable(const std::string& kind, const std::string& window, const std::string& name,
                                              std::chrono::seconds timeout = std::chrono::seconds(30));

private:
    std::filesystem::path stepsFile_;
    std::filesystem::path widgetsFile_;
    std::unique_ptr<kx::Process> process_;
    bool ended_ = false;
    kx::Process::TerminationReason reason_ = kx::Process::TerminationReason::exit;
    int status_ = -1;
    TemporaryDirectory own_;
};

// The X display of the tests.
namespace Display {
// A mapped top-level window with this title.
bool hasVisibleWindow(const std::string& title);
// Asks the window of this title to close, as a window manager's close button does.
bool closeWindow(const std::string& title);
// Presses Ctrl+`key` where the keyboard focus is.
void pressControl(char key);
// Gives the keyboard focus to the window of this title, as a click on it would.
bool focusWindow(const std::string& title);
// Gives the keyboard focus to the top-level window that shows `target` (one without a title,
// an alert), as a window manager gives it to a window that appears.
bool focusWindowOf(const Clickable& target);
// Presses the key of this X key name ("Tab", "Return", "a") with Control, Shift and/or Alt.
void pressKey(const std::string& name, bool control = false, bool shift = false, bool alt = false);
// Types printable ASCII text where the keyboard focus is.
void typeText(const std::string& text);
// Moves the pointer to the middle of `target` and clicks the first button there (in root pixels:
// its points times its scale).
void click(const Clickable& target);
// The size of the mapped top-level window of this title.
std::optional<std::pair<int, int>> windowSize(const std::string& title);
// Writes the whole screen to a PNG file.
bool screenshot(const std::filesystem::path& file);
} // namespace Display

} // namespace kxtest
