// A plain HTTP request from a test, answered while the main loop turns (so that servers on the
// same loop can reply).
#pragma once

#include <map>
#include <string>

#include "support/SourceLocation.h"

namespace kxtest {

struct HttpResponse {
    unsigned status = 0; // 0 when no answer came
    std::map<std::string, std::string> headers;
    std::string body;
};

// A request that gets no answer within 30 s fails the test naming `where`.
HttpResponse fetch(const std::string& url, const std::string& method = "GET",
                   const std::map<std::string, std::string>& headers = {},
                   kxtest::SourceLocation where = kxtest::SourceLocation::current());

// Sends `request` to 127.0.0.1:`port` as it stands (no client normalises its path) and returns
// the whole answer, empty when nobody answered. A server that neither answers nor closes within
// 30 s, or a wait around this one that ends first, ends the exchange at once.
std::string rawRequest(int port, const std::string& request, kxtest::SourceLocation where = kxtest::SourceLocation::current());

} // namespace kxtest
