// The text frames of Engine.IO 4 and Socket.IO 5 as they travel over a WebSocket: one frame is
// one Engine.IO packet, and an Engine.IO "message" carries one Socket.IO packet of the default
// namespace. Parsing never throws: a frame that does not follow the protocol gives nullopt.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kx {

struct SocketIOPacket {
    enum class EngineType { open = 0, close = 1, ping = 2, pong = 3, message = 4, upgrade = 5, noop = 6 };
    enum class Type { connect = 0, disconnect = 1, event = 2, ack = 3, connectError = 4 };

    // One Engine.IO packet: its type and, for "open" and "message", the rest of the frame.
    struct Engine {
        EngineType type;
        std::string data;
    };

    Type type = Type::event;
    std::string nsp = "/";
    std::optional<long long> ackId;
    nlohmann::json payload; // null when the packet has none

    static std::optional<Engine> parseEngine(std::string_view frame);
    // A Socket.IO packet from the data of an Engine.IO message. Binary packets are refused:
    // nothing here sends or expects attachments.
    static std::optional<SocketIOPacket> parse(std::string_view data);

    // The whole WebSocket frame: "4", the type, the namespace unless it is "/", the ack id and
    // the payload.
    std::string encode() const;
    static std::string event(const std::string& name, const nlohmann::json& arguments);

    // The event name and its arguments of an event packet; nullopt when the payload is not an
    // array that begins with a name.
    std::optional<std::pair<std::string, nlohmann::json>> eventNameAndArguments() const;
};

} // namespace kx
