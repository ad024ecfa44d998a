// An error record of the project server, written to the document's project log. It reaches
// observers of the log notification as the JSON object {"id", "type", "data"} under "log";
// a plain output line is a text there instead.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/NotificationCenter.h"

namespace kx {

struct ServerError {
    std::string id;
    std::string type;
    std::string data;

    // nullopt unless `json` is an object with the three texts.
    static std::optional<ServerError> decode(const nlohmann::json& json);
    // The record carried by a "ServerControllerDidReceiveLogNotification", if it carries one.
    static std::optional<ServerError> fromLogNotification(const Notification& notification);
    nlohmann::json toJSON() const;

    friend bool operator==(const ServerError&, const ServerError&) = default;
};

} // namespace kx
