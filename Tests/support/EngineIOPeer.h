// The Engine.IO peer of Tests/fixtures/engineio-peer.js, run with Node.js: a real WebSocket
// server that accepts a socket.io client, sends the frames a test asks for and reports every
// frame it receives.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Process.h"

namespace kxtest {

class EngineIOPeer {
public:
    // `config`: see the fixture ({handshake, afterConnect, binary, closeFrame, connectDelay}).
    explicit EngineIOPeer(const nlohmann::json& config);
    std::string url() const;

    std::vector<std::string> received; // frames from clients, in order
    int connections = 0;

private:
    kx::Process process_;
    int port_ = 0;
};

} // namespace kxtest
