// The project server's live-sharing status and, while sharing is active, its share URL.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

struct LiveSharingState {
    // "unavailable", "available", "starting", "stopping" or "active"; anything else is a
    // failure the server reports in its own words.
    std::string status;
    std::optional<std::string> url;

    static Result<LiveSharingState, Error> decode(const nlohmann::json& json);
    friend bool operator==(const LiveSharingState&, const LiveSharingState&) = default;
};

} // namespace kx
