// What a user can click in the application's windows, written down for a test that cannot
// see widget positions from outside: on SIGUSR2 the host lists every mapped, sensitive button,
// menu item and web-page button of every window it shows, with its rectangle on the screen.
#pragma once

namespace kxtest {

// Writes the list to `path` (whole, by a rename) after each SIGUSR2 (JavaScriptCore takes
// SIGUSR1 for its collector). One widget a line, fields separated by tabs: kind ("button",
// "menuitem", "web" for a web view, "page" for a button, link or field in its page), the
// window's title ("(popup)" for a pop-up menu, "(untitled)" for another window without one),
// the label or tooltip text (a web view's address; a page element's id, label or text), and
// x, y, width, height on the screen in GDK's points, and the window's scale factor (root-window
// pixels are the points times the scale). Labels outside buttons are listed too, of kind
// "text", with the text they show, and a page's fields again, of kind "value", with the text
// they hold.
void reportClickableWidgetsOnSignal(const char* path);

} // namespace kxtest
