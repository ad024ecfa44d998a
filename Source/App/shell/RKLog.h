// The application's structured log: messages go to the journal (through GLib's structured
// logging) under the bundle identifier as log domain, with the category as a field of its own.
//
// Kinds and where they go:
//   general           "default"    message (notice)
//   memory            "memory"     debug (shown only when debug output is enabled)
//   serverMessage     "server"     message
//   serverError       "server"     critical (error priority)
//   appServerMessage  "appServer"  message
//   appServerFailure  "appServer"  message
// Other kind numbers log nothing. The categories "development" and "heartbeat" exist for readers of
// the journal; no kind writes to them. Callable from any thread.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include <glib.h>

namespace kx {

enum class RKLogKind : unsigned {
    general = 0,
    memory = 1,
    serverMessage = 2, // the project server
    serverError = 3,
    appServerMessage = 4, // the static web server
    appServerFailure = 5,
};

void RKLog(std::string_view message, unsigned kind);
inline void RKLog(std::string_view message, RKLogKind kind)
{
    RKLog(message, static_cast<unsigned>(kind));
}

// Field of each entry that names the category.
inline constexpr const char* RKLogCategoryField = "CATEGORY";

// Tests see each entry (level and fields) in place of the journal; an empty writer restores it.
using RKLogWriter = std::function<void(GLogLevelFlags level, std::span<const GLogField> fields)>;
void RKLogSetWriterForTesting(RKLogWriter writer);

} // namespace kx
