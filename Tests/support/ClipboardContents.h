// What a clipboard holds, asked as another program asks it: GTK's waiting calls
// (gtk_clipboard_wait_for_text and the like) turn a main loop of their own that no deadline
// ends, so an owner that never answers would hold the test.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <optional>
#include <string>

#include "support/SourceLocation.h"

namespace kxtest {

// The clipboard's text; nullopt when it has none, or when no answer came (then, when its own
// time-out passed rather than a wait's around it, the test fails naming `where`).
std::optional<std::string> clipboardText(GtkClipboard* clipboard, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                                         kxtest::SourceLocation where = kxtest::SourceLocation::current());

// Whether the clipboard offers `target`, answered likewise.
bool clipboardOffers(GtkClipboard* clipboard, GdkAtom target, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                     kxtest::SourceLocation where = kxtest::SourceLocation::current());

} // namespace kxtest
