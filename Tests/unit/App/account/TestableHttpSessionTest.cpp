// The real session behind the account code's URL-session interface: requests wait for
// `resume`, and each answers once as data and response, or as an error alone.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "App/account/TestableHttpSession.h"
#include "support/HttpServer.h"
#include "support/Spin.h"

using kx::TestableURLSessionProtocol;

namespace {

struct Answer {
    int calls = 0;
    std::optional<std::string> data;
    std::optional<TestableURLSessionProtocol::HTTPURLResponse> response;
    std::optional<kx::Error> error;
};

std::shared_ptr<kx::TestableURLSessionDataTaskProtocol> request(TestableURLSessionProtocol& session,
                                                                const std::string& url, Answer& answer)
{
    kx::HttpSession::Request request;
    request.url = url;
    request.headers = {{"Authorization", "Token t"}};
    return session.testableDataTask(request, [&answer](auto data, auto response, auto error) {
        ++answer.calls;
        answer.data = std::move(data);
        answer.response = std::move(response);
        answer.error = std::move(error);
    });
}

} // namespace

TEST(TestableHttpSession, StartsOnResumeAndAnswersWithDataAndResponse)
{
    kxtest::HttpServer server;
    server.route("/studio/me", R"({"id":"42"})", "application/json");
    kx::TestableHttpSession session;
    Answer answer;
    auto task = request(session, server.url("/studio/me"), answer);
    kxtest::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(server.requestCount("/studio/me"), 0);

    task->resume();
    ASSERT_TRUE(kxtest::spinUntil([&] { return answer.calls == 1; }));
    EXPECT_EQ(answer.data, R"({"id":"42"})");
    ASSERT_TRUE(answer.response);
    EXPECT_EQ(answer.response->statusCode, 200u);
    EXPECT_EQ(answer.response->url, server.url("/studio/me"));
    EXPECT_FALSE(answer.error);
    task->resume();
    kxtest::spinFor(std::chrono::milliseconds(30));
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(server.requestCount("/studio/me"), 1);
}

TEST(TestableHttpSession, AFailureIsTheErrorAlone)
{
    int closedPort = 0;
    {
        kxtest::HttpServer gone;
        closedPort = gone.port();
    }
    kx::TestableHttpSession session;
    Answer answer;
    request(session, "http://127.0.0.1:" + std::to_string(closedPort) + "/studio/me", answer)->resume();
    ASSERT_TRUE(kxtest::spinUntil([&] { return answer.calls == 1; }));
    EXPECT_FALSE(answer.data);
    EXPECT_FALSE(answer.response);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->domain, kx::HttpSession::errorDomain);
    EXPECT_EQ(answer.error->code, kx::HttpSession::cannotConnectToHost);
}
