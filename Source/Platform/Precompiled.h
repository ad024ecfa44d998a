// The heavy system headers, compiled once for the targets that ask for them (KX_PCH). No source
// relies on them: each includes what it uses.
#pragma once

#include <gtk/gtk.h>
// gdk/gdkx.h stays out: Xlib macros (None, Bool, Status) break other headers. Include it
// only in the .cpp files that talk to X11.
#include <webkit2/webkit2.h>
#include <libsoup/soup.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>
