// The handler of the editor page's named messages that the editor view controller does not
// handle itself.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace kx {

class IPCProcessor {
public:
    virtual ~IPCProcessor() = default;
    // `arguments` is the message's value as the page sent it (an empty object when it sent none).
    virtual void processMessage(const std::string& method, const nlohmann::json& arguments) = 0;
};

} // namespace kx
