// What the tests of the project server controller and of the project server program share: a
// configuration over a temporary folder, a start that waits for the connected socket, and a
// recorder of the controller's notifications.
#pragma once

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "App/server/ServerController.h"
#include "App/server/ServerError.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "support/ProjectServerSetup.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace kxtest {

using namespace std::chrono_literals;

inline const auto serverTimeout = 20s;

// Every notification of one name from one controller, in order.
struct Recorder {
    std::vector<kx::Notification> received;
    kx::NotificationCenter::Token token;
    Recorder(const char* name, const kx::ServerController& controller)
        : token(kx::NotificationCenter::defaultCenter().addObserver(
              name, &controller, [this](const kx::Notification& n) { received.push_back(n); }))
    {
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> lines;
        for (const auto& n : received)
            if (n.userInfo["log"].is_string())
                lines.push_back(n.userInfo["log"]);
        return lines;
    }
    std::vector<kx::ServerError> errors() const
    {
        std::vector<kx::ServerError> errors;
        for (const auto& n : received)
            if (auto error = kx::ServerError::fromLogNotification(n))
                errors.push_back(*error);
        return errors;
    }
};

inline bool processIsGone(int pid)
{
    return pid > 0 && ::kill(pid, 0) != 0;
}

class ProjectServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KX_REQUIRE_PROJECT_SERVER();
        std::filesystem::create_directories(folder / "project");
        configuration = projectServerConfiguration(folder.path(), "2.3.4");
        configuration.staticPath = folder.path();
        configuration.apiToken = "API-TOKEN-1234";
        configuration.corsPorts = {5567};
    }

    // Starts `controller` and waits until its socket is connected and the first state is in.
    void startAndConnect(kx::ServerController& controller)
    {
        std::optional<std::optional<std::string>> url;
        controller.start(token, [&](std::optional<std::string> u) { url = u; });
        ASSERT_TRUE(spinUntil([&] { return url.has_value(); }, serverTimeout));
        ASSERT_TRUE(url->has_value());
        EXPECT_TRUE(url->value().starts_with("http://127.0.0.1:"));
        EXPECT_EQ(controller.currentServerURL(), *url);
        ASSERT_TRUE(spinUntil([&] { return controller.isConnected() && controller.state(); }, serverTimeout));
    }

    // The port of the running server's URL.
    static int portOf(const kx::ServerController& controller)
    {
        const std::string& url = *controller.currentServerURL();
        return std::stoi(url.substr(url.rfind(':') + 1));
    }

    TemporaryDirectory folder;
    kx::ServerController::Configuration configuration;
    std::string token = "0B6D8C55-3A2C-4E43-9D1A-5E0F5A6C7B8D";
};

} // namespace kxtest
