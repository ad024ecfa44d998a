#include "App/server/SocketIOPacket.h"

#include <charconv>

#include "Services/runtime/JSONDecoder.h"

namespace kx {

std::optional<SocketIOPacket::Engine> SocketIOPacket::parseEngine(std::string_view frame)
{
    if (frame.empty() || frame[0] < '0' || frame[0] > '6')
        return std::nullopt;
    return Engine{EngineType(frame[0] - '0'), std::string(frame.substr(1))};
}

std::optional<SocketIOPacket> SocketIOPacket::parse(std::string_view data)
{
    if (data.empty() || data[0] < '0' || data[0] > '4')
        return std::nullopt;
    SocketIOPacket packet;
    packet.type = Type(data[0] - '0');
    std::string_view rest = data.substr(1);

    if (!rest.empty() && rest[0] == '/') {
        auto comma = rest.find(',');
        packet.nsp = std::string(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    }
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    if (digits > 0) {
        long long id = 0;
        auto [end, error] = std::from_chars(rest.data(), rest.data() + digits, id);
        if (error != std::errc() || end != rest.data() + digits)
            return std::nullopt;
        packet.ackId = id;
        rest = rest.substr(digits);
    }
    if (!rest.empty()) {
        // The service layer's reader refuses payloads nested too deeply to copy or print
        // safely (both recurse once per level).
        try {
            packet.payload = JSONDecoder::parse(rest);
        } catch (const DecodingError&) {
            return std::nullopt;
        }
    }

    switch (packet.type) {
    case Type::connect:
    case Type::connectError:
        if (!packet.payload.is_null() && !packet.payload.is_object())
            return std::nullopt;
        break;
    case Type::event:
        if (!packet.eventNameAndArguments())
            return std::nullopt;
        break;
    case Type::ack:
        if (!packet.ackId || !packet.payload.is_array())
            return std::nullopt;
        break;
    case Type::disconnect:
        break;
    }
    return packet;
}

std::string SocketIOPacket::encode() const
{
    std::string frame = "4";
    frame += char('0' + int(type));
    if (nsp != "/")
        frame += nsp + ",";
    if (ackId)
        frame += std::to_string(*ackId);
    if (!payload.is_null())
        frame += payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return frame;
}

std::string SocketIOPacket::event(const std::string& name, const nlohmann::json& arguments)
{
    SocketIOPacket packet;
    packet.payload = nlohmann::json::array({name});
    if (arguments.is_array())
        for (const auto& argument : arguments)
            packet.payload.push_back(argument);
    return packet.encode();
}

std::optional<std::pair<std::string, nlohmann::json>> SocketIOPacket::eventNameAndArguments() const
{
    if (type != Type::event || !payload.is_array() || payload.empty() || !payload[0].is_string())
        return std::nullopt;
    return std::pair{payload[0].get<std::string>(), nlohmann::json(payload.begin() + 1, payload.end())};
}

} // namespace kx
