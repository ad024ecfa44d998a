#include "App/server/ServerError.h"

namespace kx {

std::optional<ServerError> ServerError::decode(const nlohmann::json& json)
{
    if (!json.is_object())
        return std::nullopt;
    ServerError error;
    for (auto [key, field] : {std::pair{"id", &error.id}, std::pair{"type", &error.type}, std::pair{"data", &error.data}}) {
        auto found = json.find(key);
        if (found == json.end() || !found->is_string())
            return std::nullopt;
        *field = found->get<std::string>();
    }
    return error;
}

std::optional<ServerError> ServerError::fromLogNotification(const Notification& notification)
{
    if (!notification.userInfo.is_object() || !notification.userInfo.contains("log"))
        return std::nullopt;
    return decode(notification.userInfo["log"]);
}

nlohmann::json ServerError::toJSON() const
{
    return {{"id", id}, {"type", type}, {"data", data}};
}

} // namespace kx
