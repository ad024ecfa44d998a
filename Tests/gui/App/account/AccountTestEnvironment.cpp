#include "AccountTestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "App/account/AppServices.h"
#include "App/account/KorvelTracking.h"
#include "App/account/LoginController.h"
#include "App/account/LoginWindow.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "support/Spin.h"

namespace kxtest {

namespace {

std::unique_ptr<StandInBackend>& instance()
{
    static std::unique_ptr<StandInBackend> backend;
    return backend;
}

int tokenCounter = 0;

} // namespace

bool AccountTestEnvironment::start()
{
    instance() = std::make_unique<StandInBackend>();
    if (!instance()->start())
        return false;
    setenv(kx::AppServices::environmentVariable, "local", 1);
    setenv(kx::AppServices::localBackendVariable, instance()->url().c_str(), 1);
    return true;
}

void AccountTestEnvironment::stop()
{
    instance().reset();
}

StandInBackend& AccountTestEnvironment::backend()
{
    return *instance();
}

void AccountTestEnvironment::reset()
{
    for (auto& alert : kx::Alert::shownAlerts()) {
        if (auto* window = alert->window())
            gtk_window_close(window);
    }
    auto& login = kx::LoginController::shared();
    login.logoutAndQuit(false);
    if (auto* window = login.loginWindow())
        window->close();
    auto& defaults = kx::UserDefaults::standard();
    for (const char* key : {kx::KorvelTracking::trackingDisabledKey, kx::KorvelTracking::dataCollectionDisabledKey,
                            kx::AppServices::environmentKey})
        defaults.removeObject(key);
    setenv(kx::AppServices::environmentVariable, "local", 1);
    backend().clearRecorded();
}

std::string AccountTestEnvironment::signInFreshUser(const std::string& name)
{
    const std::string token = "tok-" + std::to_string(++tokenCounter) + "-secret";
    const std::string id = "u-fresh-" + std::to_string(tokenCounter);
    backend().registerToken(token, "user", {{"id", id}, {"name", name}, {"email", "ada@example.com"}});
    auto& login = kx::LoginController::shared();
    login.resetTokenFromUrlWithUrl("korvel-x://login?fut=" + token);
    EXPECT_TRUE(spinUntil([&] { return login.userId() == id; })) << "the login link did not sign " << name << " in";
    return id;
}

} // namespace kxtest
