// The real session behind TestableURLSessionProtocol: requests go out through an HttpSession.
#pragma once

#include "App/account/TestableURLSessionProtocol.h"
#include "Platform/Foundation/HttpSession.h"

namespace kx {

class TestableHttpSession final : public TestableURLSessionProtocol {
public:
    // `session` must outlive this object (the shared session does).
    explicit TestableHttpSession(HttpSession& session = HttpSession::shared());

    std::shared_ptr<TestableURLSessionDataTaskProtocol> testableDataTask(HttpSession::Request request,
                                                                         CompletionHandler completionHandler) override;

private:
    HttpSession& session_;
};

} // namespace kx
