#include "support/StandInBackend.h"

#include <gtest/gtest.h>

#include <memory>

#include "Platform/Foundation/HttpSession.h"
#include "Platform/Foundation/Process.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace kxtest {

StandInBackend::StandInBackend() = default;

StandInBackend::~StandInBackend()
{
    if (process_)
        process_->terminate();
}

bool StandInBackend::start(const std::filesystem::path& lastingStateHome)
{
    const auto program = testSourceDir().parent_path() / "Tools" / "backend" / "standin.js";
    kx::Process::Configuration configuration{{"node", program.string(), "--port", "0", "--exit-with-stdin"}, {}, {}};
    if (lastingStateHome.empty())
        configuration.arguments.push_back("--fresh");
    else
        configuration.environment["XDG_STATE_HOME"] = lastingStateHome.string();
    process_ = std::make_unique<kx::Process>(std::move(configuration));
    process_->standardOutputHandler = [this](const std::string& line) {
        if (!url_.empty())
            return;
        try {
            url_ = nlohmann::json::parse(line).at("url").get<std::string>();
        } catch (const std::exception&) {
        }
    };
    if (process_->launch().isFailure())
        return false;
    return spinUntil([&] { return !url_.empty(); }, std::chrono::seconds(20));
}

std::pair<unsigned, std::string> StandInBackend::request(const std::string& method, const std::string& path,
                                                         const std::string& body) const
{
    kx::HttpSession::Request request;
    request.method = method;
    request.url = url_ + path;
    request.body = body;
    if (!body.empty())
        request.headers = {{"Content-Type", "application/json"}};
    // Shared with the completion, which a cancelled task still calls.
    auto answer = std::make_shared<std::optional<std::pair<unsigned, std::string>>>();
    auto task = kx::HttpSession::shared().dataTask(request, [answer](auto result) {
        *answer = result.isSuccess() ? std::make_pair(result.value().statusCode, result.value().body)
                                     : std::make_pair(0u, std::string());
    });
    task->resume();
    if (!spinUntil([&] { return answer->has_value(); }, std::chrono::seconds(20))) {
        ADD_FAILURE() << "the stand-in back end did not answer " << method << " " << path;
        task->cancel();
    }
    return answer->value_or(std::make_pair(0u, std::string()));
}

nlohmann::json StandInBackend::recorded(const std::string& kind) const
{
    auto [status, body] = request("GET", "_recorded/" + kind);
    return status == 200 ? nlohmann::json::parse(body, nullptr, false) : nlohmann::json();
}

void StandInBackend::clearRecorded() const
{
    request("POST", "_recorded/clear", "{}");
}

void StandInBackend::registerToken(const std::string& token, const std::string& answer, const nlohmann::json& user) const
{
    nlohmann::json body = {{"token", token}, {"answer", answer}};
    if (!user.is_null())
        body["user"] = user;
    request("POST", "_test/tokens", body.dump());
}

} // namespace kxtest
