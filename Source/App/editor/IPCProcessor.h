// The handler of the editor page's named messages that the editor view controller does not
// handle itself.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace kx {

class IPCProcessor {
public:
    virtual ~IPCProcessor() = default;
    // `arguments` is the message's value as the page sent it, none when it sent none.
    virtual void processMessage(const std::string& method, const std::optional<nlohmann::json>& arguments) = 0;
};

} // namespace kx
