#include "support/EngineIOPeer.h"

#include <gtest/gtest.h>

#include "support/Spin.h"
#include "support/TestPaths.h"

namespace kxtest {

EngineIOPeer::EngineIOPeer(const nlohmann::json& config)
    : process_({{"node", (testSourceDir() / "fixtures" / "engineio-peer.js").string(), config.dump()}, {}, {}})
{
    process_.standardOutputHandler = [this](const std::string& line) {
        if (line.starts_with("{"))
            port_ = nlohmann::json::parse(line)["port"].get<int>();
        else if (line.starts_with("connection "))
            ++connections;
        else if (line.starts_with("received "))
            received.push_back(line.substr(9));
    };
    EXPECT_TRUE(process_.launch().isSuccess());
    EXPECT_TRUE(spinUntil([this] { return port_ != 0; }));
}

std::string EngineIOPeer::url() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

} // namespace kxtest
