// The login token in the desktop keyring (the Secret Service, through libsecret). Every call
// is asynchronous: a locked keyring prompts the user and a missing service only answers after
// a D-Bus time-out, and neither may hold up the main loop. Each completion runs once, on the
// main loop; none runs after the keyring object is gone. Requests run one after the other, in
// the order made: libsecret mishandles a removal that races another request on the same item.
// The token never reaches a log.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class LoginKeyring {
public:
    using LookupCompletion = std::function<void(Result<std::optional<std::string>, Error>)>;
    using Completion = std::function<void(std::optional<Error>)>;

    // Entries are told apart by application (the bundle identifier) and environment name.
    explicit LoginKeyring(std::string application);
    ~LoginKeyring();
    LoginKeyring(const LoginKeyring&) = delete;
    LoginKeyring& operator=(const LoginKeyring&) = delete;

    // The stored token, none when there is no entry.
    void lookup(const std::string& environment, LookupCompletion completion);
    void store(const std::string& environment, const std::string& token, Completion completion);
    // Removing an entry that does not exist succeeds.
    void clear(const std::string& environment, Completion completion);

    static constexpr const char* schemaName = "com.korvel.x.LoginToken";

    struct Call;  // one request
    struct Queue; // the requests waiting behind the running one

private:
    void enqueue(std::unique_ptr<Call> call);

    std::string application_;
    std::shared_ptr<Queue> queue_;
};

} // namespace kx
