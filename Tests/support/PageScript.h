// Scripts that a test evaluates in a page, with the answer waited for.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

#include "support/SourceLocation.h"

namespace kx {
class WebViewController;
}

namespace kxtest {

// The value of `script` in `page`, waited for on the main loop (a wait like spinUntil's,
// bounded by the waits around it): the page's result, "error: ..." when the script threw, and
// null when no answer came in time, with a test failure naming the script when its own
// time-out passed (not a wait's around it). An answer that comes after the wait has ended is
// dropped.
nlohmann::json evaluateInPage(kx::WebViewController& page, const std::string& script, std::chrono::milliseconds timeout,
                              kxtest::SourceLocation where = kxtest::SourceLocation::current());

} // namespace kxtest
