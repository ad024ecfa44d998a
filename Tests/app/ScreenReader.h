// What a screen reader learns of the application over AT-SPI, the desktop's accessibility bus:
// where the keyboard focus is (from the focus events, as a screen reader follows it) and the
// controls of the windows on screen with their roles and names. It needs the application's
// accessibility bridge on (NO_AT_BRIDGE unset or 0) and the accessibility bus of the D-Bus
// session (at-spi2-core). Main thread of the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kxtest {

class ScreenReader {
public:
    ScreenReader();
    ~ScreenReader();
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    // Whether the accessibility bus answered.
    bool isConnected() const { return connected_; }

    // What last took the keyboard focus: its name and role as read aloud ("push button").
    struct Focus {
        std::string name;
        std::string role;
        std::string application; // the name of the program that drew it
    };
    // A page's control is announced by the page's own process, its view by the application:
    // the two events may cross on the bus, so an unnamed view heard right after a control of
    // its page that still has the focus leaves the focus with that control.
    const Focus& focus() const;
    // Counts the focus changes heard, so that a wait can tell the next one.
    int focusChanges() const { return focusChanges_; }
    // When the last one was heard: one key may move the focus more than once (a list's row
    // and its selection), and the events come in over the bus after the key.
    std::chrono::steady_clock::time_point lastFocusChange() const { return lastFocusChange_; }

    // The titles of the windows of the process `pid` that are on screen, as announced.
    std::vector<std::string> windows(pid_t pid) const;

    // A control on screen: what a person operates (a button, a menu item, a list's row, a
    // link...), or anything else that takes the keyboard focus.
    struct Control {
        std::string window; // its window's title, else "(" + the window's role + ")"
        std::string role;
        std::string name;
        // Why a screen reader cannot announce it ("no name", "no role") or press it ("no
        // action": a button without AtkAction), or empty.
        std::string fault;
    };
    // The controls in the windows of `pid` on screen. Pages shown in web views are programs
    // of their own and are not walked.
    std::vector<Control> controls(pid_t pid) const;

private:
    bool connected_ = false;
    Focus focus_;
    Focus previous_; // what held the focus before `focus_`
    int previousApplied_ = 0;
    void* source_ = nullptr; // their accessibles, with a reference each
    void* previousSource_ = nullptr;
    std::chrono::steady_clock::time_point previousHeard_;
    int focusChanges_ = 0;
    int focusApplied_ = 0; // which of the changes `focus_` holds
    std::chrono::steady_clock::time_point lastFocusChange_;
    void* listener_ = nullptr;
};

} // namespace kxtest
