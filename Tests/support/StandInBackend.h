// The stand-in back end (Tools/backend/standin.js) run by a test program: started on a free
// loopback port, asked what it recorded, and told which tokens answer how.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace kx {
class Process;
}

namespace kxtest {

class StandInBackend {
public:
    StandInBackend();
    ~StandInBackend();
    StandInBackend(const StandInBackend&) = delete;
    StandInBackend& operator=(const StandInBackend&) = delete;

    // Starts the program and waits (turning the main loop) for its URL; false when it did not
    // come up. It starts with no accounts and keeps none, unless given the state folder where
    // it keeps them as it does for `scripts/run`.
    bool start(const std::filesystem::path& lastingStateHome = {});
    // "http://127.0.0.1:<port>/"
    const std::string& url() const { return url_; }

    // What it received at "/track", "/collect" or "/login" ("track", "collect", "login").
    nlohmann::json recorded(const std::string& kind) const;
    void clearRecorded() const;
    // Registers `token`; its "studio/me" answers as `answer` says (see the program's README).
    void registerToken(const std::string& token, const std::string& answer,
                       const nlohmann::json& user = nullptr) const;

    // A request to the stand-in, answered while the main loop turns: status and body.
    std::pair<unsigned, std::string> request(const std::string& method, const std::string& path,
                                             const std::string& body = {}) const;

private:
    std::unique_ptr<kx::Process> process_;
    std::string url_;
};

} // namespace kxtest
