// The login controller without a Secret Service, and with answers that come late: a token
// stays in memory for the run, and answers for a sign-in that was replaced are dropped.
#include <gtest/gtest.h>

#include <deque>

#include "App/account/LoginController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "support/LogCapture.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

using kx::LoginController;
using kx::TestableURLSessionProtocol;

namespace {

// A session whose answers the test gives, one request at a time.
class HeldSession final : public TestableURLSessionProtocol {
public:
    struct Held {
        kx::HttpSession::Request request;
        CompletionHandler completion;
    };

    std::shared_ptr<kx::TestableURLSessionDataTaskProtocol> testableDataTask(kx::HttpSession::Request request,
                                                                             CompletionHandler completion) override
    {
        struct Task final : kx::TestableURLSessionDataTaskProtocol {
            HeldSession* session;
            Held held;
            void resume() override { session->held.push_back(std::move(held)); }
        };
        auto task = std::make_shared<Task>();
        task->session = this;
        task->held = {std::move(request), std::move(completion)};
        return task;
    }

    void answer(unsigned status, const std::string& body)
    {
        ASSERT_FALSE(held.empty());
        auto next = std::move(held.front());
        held.pop_front();
        next.completion(body, HTTPURLResponse{next.request.url, status, {}}, std::nullopt);
    }

    std::deque<Held> held;
};

class LoginControllerWithoutKeyring : public ::testing::Test {
protected:
    kxtest::TemporaryDirectory dir_;
    // No bus at all: libsecret fails at once instead of waiting for a service.
    kxtest::ScopedSetting bus_{"DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir_ / "no-bus").string()).c_str()};
    kxtest::ScopedSetting environment_{"KORVEL_X_ENVIRONMENT", "local"};
    kx::UserDefaults defaults_{dir_ / "defaults.json"};
    std::shared_ptr<HeldSession> session_ = std::make_shared<HeldSession>();
    kxtest::LogCapture log_;
};

} // namespace

TEST_F(LoginControllerWithoutKeyring, KeepsTheTokenInMemoryForTheRunAndSaysSo)
{
    LoginController login(defaults_, session_, "com.korvel.x.unit-test");
    int changes = 0;
    auto observation = kx::NotificationCenter::defaultCenter().addObserver(
        kx::UserConfigChangedNotification, &login, [&](const kx::Notification&) { ++changes; });

    login.resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-memory");
    ASSERT_EQ(session_->held.size(), 1u);
    EXPECT_EQ(session_->held[0].request.headers[0], std::make_pair(std::string("Authorization"), std::string("Token tok-memory")));
    session_->answer(200, R"({"id":"u1","name":"Ada"})");
    EXPECT_EQ(login.userId(), "u1");
    EXPECT_EQ(changes, 1);

    ASSERT_TRUE(kxtest::spinUntil([&] { return log_.contains("kept for this session only"); }));
    EXPECT_TRUE(login.isLoggedIn());
    EXPECT_EQ(login.token(), "tok-memory");
    EXPECT_TRUE(defaults_.objectForKey(LoginController::tokenStoredKey).is_null());
    for (const auto& line : log_.lines())
        EXPECT_EQ(line.find("tok-memory"), std::string::npos) << line;

    // The next run knows nothing of it.
    LoginController next(defaults_, session_, "com.korvel.x.unit-test");
    EXPECT_FALSE(next.isLoggedIn());
}

TEST_F(LoginControllerWithoutKeyring, AnswersForAReplacedSignInAreDropped)
{
    LoginController login(defaults_, session_, "com.korvel.x.unit-test");
    login.resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-first");
    login.logoutAndQuit(false); // before the back end answered
    session_->answer(200, R"({"id":"u1","name":"First"})");
    EXPECT_FALSE(login.isLoggedIn());
    EXPECT_FALSE(login.userId().has_value());

    login.resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-second");
    login.resetTokenFromUrlWithUrl("korvel-x://login?fut=tok-third"); // still signed out: no question
    session_->answer(200, R"({"id":"u2","name":"Second"})");
    EXPECT_FALSE(login.isLoggedIn());
    session_->answer(200, R"({"id":"u3","name":"Third"})");
    EXPECT_EQ(login.userId(), "u3");
    EXPECT_EQ(login.token(), "tok-third");
}
