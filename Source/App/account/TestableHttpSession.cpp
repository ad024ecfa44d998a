#include "App/account/TestableHttpSession.h"

#include <utility>

namespace kx {

namespace {

class DataTask final : public TestableURLSessionDataTaskProtocol {
public:
    explicit DataTask(std::shared_ptr<HttpSession::Task> task)
        : task_(std::move(task))
    {
    }
    void resume() override { task_->resume(); }

private:
    std::shared_ptr<HttpSession::Task> task_;
};

} // namespace

TestableHttpSession::TestableHttpSession(HttpSession& session)
    : session_(session)
{
}

std::shared_ptr<TestableURLSessionDataTaskProtocol> TestableHttpSession::testableDataTask(
    HttpSession::Request request, CompletionHandler completionHandler)
{
    auto task = session_.dataTask(
        std::move(request), [completionHandler = std::move(completionHandler)](Result<HttpSession::Response, Error> result) {
            if (!completionHandler)
                return;
            if (result.isFailure())
                return completionHandler(std::nullopt, std::nullopt, result.error());
            HttpSession::Response response = std::move(result).get();
            completionHandler(std::move(response.body),
                              HTTPURLResponse{std::move(response.url), response.statusCode, std::move(response.headers)},
                              std::nullopt);
        });
    return std::make_shared<DataTask>(std::move(task));
}

} // namespace kx
