// A plain HTTP request from a test, answered while the main loop turns (so that servers on the
// same loop can reply).
#pragma once

#include <map>
#include <string>

namespace kxtest {

struct HttpResponse {
    unsigned status = 0; // 0 when no answer came
    std::map<std::string, std::string> headers;
    std::string body;
};

HttpResponse fetch(const std::string& url, const std::string& method = "GET",
                   const std::map<std::string, std::string>& headers = {});

// Sends `request` to 127.0.0.1:`port` as it stands (no client normalises its path) and returns
// the whole answer, empty when nobody answered.
std::string rawRequest(int port, const std::string& request);

} // namespace kxtest
