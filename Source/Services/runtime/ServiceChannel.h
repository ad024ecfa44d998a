// The transport of service messages to one peer (in this system always a web page): it sends
// one message at a time and hands every arriving message to its listeners. It gives messages
// no meaning; the Router does. Everything here runs on the main thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Services/runtime/RawEnum.h"

namespace kx {

class ServiceChannel {
public:
    enum class MessageType { request, response, error };
    friend KX_RAW_ENUM(MessageType, request, response, error)

    // The UTF-8 bytes of one JSON text: an argument, a result or a ServiceError.
    struct MessageBody {
        std::string json;
        friend bool operator==(const MessageBody&, const MessageBody&) = default;
    };
    using OptionalBody = std::optional<MessageBody>;

    struct Message {
        MessageType type = MessageType::request;
        std::string id;
        std::string serviceId;
        std::string method;
        OptionalBody body;

        // A readable rendering for log lines; long bodies are cut short.
        std::string description() const;
        friend bool operator==(const Message&, const Message&) = default;
    };

    // Takes the message by value: the last listener gets it moved, so a large body reaches the
    // router without a copy.
    using Listener = std::function<void(Message)>;
    using ResetListener = std::function<void()>;

    ServiceChannel() = default;
    virtual ~ServiceChannel() = default;
    ServiceChannel(const ServiceChannel&) = delete;
    ServiceChannel& operator=(const ServiceChannel&) = delete;

    // Sends one message to the peer; delivery failures are not reported. Takes the message by
    // value, so that a large body is handed over rather than copied.
    virtual void postMessage(Message message) = 0;
    // Every message that later arrives is handed to every listener, in the order they were added.
    virtual void addMessageListener(Listener listener) = 0;

    // Called whenever the peer goes (another page, a reload, a crashed page process, a
    // detached or destroyed view): nothing it has not answered yet will ever be answered.
    void addResetListener(ResetListener listener) { resetListeners_.push_back(std::move(listener)); }

protected:
    // Tells every reset listener, in the order they were added.
    void notifyReset();

private:
    std::vector<ResetListener> resetListeners_;
};

} // namespace kx
