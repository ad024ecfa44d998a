// The application's structured log: messages go to the journal (through GLib's structured
// logging) under the bundle identifier as log domain, with the category as a field of its own.
//
// Kinds and where they go:
//   0 general messages           "default"    message (notice)
//   1 memory messages            "memory"     debug (shown only when debug output is enabled)
//   2 project-server messages    "server"     message
//   3 project-server errors      "server"     critical (error priority)
//   4 static web server messages "appServer"  message
//   5 static web server failures "appServer"  message
// Other kinds log nothing. The categories "development" and "heartbeat" exist for readers of
// the journal; no kind writes to them. Callable from any thread.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include <glib.h>

namespace kx {

void RKLog(std::string_view message, unsigned kind);

// Field of each entry that names the category.
inline constexpr const char* RKLogCategoryField = "CATEGORY";

// Tests see each entry (level and fields) in place of the journal; an empty writer restores it.
using RKLogWriter = std::function<void(GLogLevelFlags level, std::span<const GLogField> fields)>;
void RKLogSetWriterForTesting(RKLogWriter writer);

} // namespace kx
