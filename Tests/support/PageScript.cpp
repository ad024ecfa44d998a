#include "support/PageScript.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "App/web/WebViewController.h"
#include "support/Spin.h"

namespace kxtest {

nlohmann::json evaluateInPage(kx::WebViewController& page, const std::string& script, std::chrono::milliseconds timeout,
                              kxtest::SourceLocation where)
{
    // Shared with the completion, which may come after this wait has given up.
    struct Answer {
        bool done = false;
        nlohmann::json value;
    };
    auto answer = std::make_shared<Answer>();
    page.evaluateJavaScript(script, [answer](std::optional<nlohmann::json> result, std::optional<kx::Error> error) {
        answer->value = error ? nlohmann::json("error: " + error->localizedDescription) : result.value_or(nlohmann::json());
        answer->done = true;
    });
    const auto ownDeadline = std::chrono::steady_clock::now() + timeout;
    if (!spinUntil([&] { return answer->done; }, timeout, where)) {
        // A wait around this one that ran out first decides for itself what that means.
        if (std::chrono::steady_clock::now() >= ownDeadline)
            ADD_FAILURE_AT(where.file_name(), int(where.line()))
                << "no answer from the page to the script: " << (script.size() > 200 ? script.substr(0, 200) + "..." : script);
        return nullptr;
    }
    return answer->value;
}

} // namespace kxtest
