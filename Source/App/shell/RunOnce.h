// Work that must succeed once in the life of the user's settings (the first-launch event, for
// example): it runs at every call until it reports success, then never again.
#pragma once

#include <functional>
#include <string>

#include "Platform/Foundation/UserDefaults.h"

namespace kx {

// Runs `withBlock` unless the marker "PDRunOnce.<key>" is true in `defaults`; stores the marker
// only when the block returns true.
void runOnceForKey(const std::string& key, const std::function<bool()>& withBlock,
                   UserDefaults& defaults = UserDefaults::standard());

} // namespace kx
