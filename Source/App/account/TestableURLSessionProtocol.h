// How the account code reaches the network, so that a test can put its own session in place
// of the real one (TestableHttpSession).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/account/TestableURLSessionDataTaskProtocol.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/HttpSession.h"

namespace kx {

class TestableURLSessionProtocol {
public:
    // The answer without its body.
    struct HTTPURLResponse {
        std::string url;
        unsigned statusCode = 0;
        HttpSession::Headers headers;
    };

    // Called once, on the main loop: with the body and the response when the server answered
    // (whatever the status), with the error alone when it did not.
    using CompletionHandler = std::function<void(std::optional<std::string> data,
                                                 std::optional<HTTPURLResponse> response,
                                                 std::optional<Error> error)>;

    virtual ~TestableURLSessionProtocol() = default;

    // A task for `request`, not yet started.
    virtual std::shared_ptr<TestableURLSessionDataTaskProtocol> testableDataTask(HttpSession::Request request,
                                                                                 CompletionHandler completionHandler)
        = 0;
};

} // namespace kx
