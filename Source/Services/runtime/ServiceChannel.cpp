#include "Services/runtime/ServiceChannel.h"

namespace kx {

std::string ServiceChannel::Message::description() const
{
    // A megabyte of body in every error line would drown the log.
    constexpr std::size_t shownBodyBytes = 512;
    std::string text = "Message(type: ";
    text += rawValue(type);
    text += ", id: " + id + ", serviceId: " + serviceId + ", method: " + method + ", body: ";
    if (!body) {
        text += "nil";
    } else if (body->json.size() <= shownBodyBytes) {
        text += body->json;
    } else {
        text += body->json.substr(0, shownBodyBytes);
        text += "... (" + std::to_string(body->json.size()) + " bytes)";
    }
    text += ')';
    return text;
}

void ServiceChannel::notifyReset()
{
    // The list as it stands now: a listener that adds another does not see it called for this one.
    const std::vector<ResetListener> listeners = resetListeners_;
    for (const auto& listener : listeners)
        listener();
}

} // namespace kx
