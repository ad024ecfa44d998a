// The process's sign-in: the login token, the signed-in user's record, the login window and
// signing out.
//
// The token lives in the desktop keyring (LoginKeyring); a non-secret marker in the user
// defaults says which environments have one there, so that `isLoggedIn` answers at once while
// the keyring is read in the background. Without a Secret Service the token is held in memory
// for the run (and a line says so). An ephemeral token is never written anywhere: a crash
// cannot leave one behind, and a sign-in stored before it is signed in again at the next
// launch. The user record from "studio/me" is cached in the defaults.
//
// A sign-in commits only once the back end has answered the token with a readable record: a
// refused token, or an answer that is not a record, leaves the previous sign-in as it was.
// Tokens, links that carry them and the record itself never reach a log line. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "App/account/LoginKeyring.h"
#include "App/account/TestableURLSessionProtocol.h"
#include "App/account/UserInfo.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

class Alert;
class LoginWindow;

// Posted (object: the login controller) when a sign-in completes and whenever `initialize`
// has refreshed, or kept, the signed-in user's record.
inline constexpr const char* UserConfigChangedNotification = "UserConfigChangedNotification";
// Posted (object: the login controller) when the token changed: signed in, out, or another user.
inline constexpr const char* LoginTokenDidChangeNotification = "LoginControllerTokenDidChangeNotification";

class LoginController {
public:
    static constexpr const char* tokenStoredKey = "PDLoginTokenStored"; // environment name -> true
    static constexpr const char* userInfoKey = "PDUserInfo";            // environment name -> record
    static constexpr const char* updatesDisabledKey = "PDSparkleUpdatesDisabled";

    static LoginController& shared();

    // `session` null: the real HTTP session. `keyringApplication` tells this controller's
    // keyring entries apart from others' (tests use their own).
    explicit LoginController(UserDefaults& defaults = UserDefaults::standard(),
                             std::shared_ptr<TestableURLSessionProtocol> session = nullptr,
                             std::string keyringApplication = {});
    ~LoginController();
    LoginController(const LoginController&) = delete;
    LoginController& operator=(const LoginController&) = delete;

    // With a token held (in memory or in the keyring), fetches the user record again; the
    // completion stores it and posts UserConfigChangedNotification. A token the back end
    // refuses signs out. With no token it does nothing.
    void initialize();

    bool isLoggedIn() const;
    // Not signed in, or the login window is on screen.
    bool isBlocking() const;
    // Signed in and the login window is not on screen.
    bool shouldOpenDocuments() const;
    bool windowIsVisible() const;
    bool updatesDisabled() const;

    std::optional<std::string> userId() const;
    std::optional<std::string> userName() const;
    const std::optional<UserInfo>& user() const { return user_; }
    // The token when it is in memory (not while the keyring is still being read).
    const std::optional<std::string>& token() const { return token_; }
    bool isEphemeral() const { return ephemeral_; }

    // Signs in with the token in the link's "fut" item ("ephemeral=1" keeps it in memory
    // only). While signed in with the login window away, the user is asked first, since any
    // page can open such a link: the back end is asked whose record the token opens, the
    // question names that account, and only a deliberate press of "Sign In" (a click, or
    // Space on it) signs in with that record; Return and Escape cancel. When the account
    // cannot be found out, the user is told so and nothing changes.
    void resetTokenFromUrlWithUrl(const std::string& url);
    // With `ask`, confirms first and quits afterwards; either way signs out: forgets the
    // token, its marker, the keyring entry and the cached record (in an ephemeral session, the
    // saved sign-in behind it too, as the question says).
    void logoutAndQuit(bool ask);
    // Forgets an ephemeral token and its record; nothing otherwise.
    void clearEphemeralToken();

    void showLoginWindow();
    LoginWindow* loginWindow() const { return window_.get(); }

    // Enterprise edition: checks that `domain` runs our back end ("detect.txt") and, when it
    // does, stores it as the organisation's domain. The completion says whether it was taken.
    void detectEnterpriseDomain(const std::string& domain, std::function<void(bool)> completion);

    // What `logoutAndQuit(true)` ends with; by default the application quits.
    std::function<void()> terminateHandler;
    // Run after a completed sign-in (the application shows its start window).
    std::function<void()> didSignInHandler;

    // The question asked before a link replaces the signed-in user (or the word that the
    // link's account could not be found out), while it is shown.
    Alert* pendingSwitchAlert() const { return switchAlert_.get(); }
    // A link's account is being asked for; no question is shown yet.
    bool isCheckingLink() const { return checkingLink_; }

private:
    enum class Purpose { refresh, signIn };
    // The back end's answer for a token: the record, or why there is none.
    struct RecordAnswer {
        std::optional<UserInfo> user;
        bool refused = false; // the token is not (or no longer) valid
        std::string failure;  // for the log and the user; never quotes the answer
    };

    std::string environmentName() const;
    bool hasStoredToken() const;
    void setStoredToken(bool stored);
    std::optional<UserInfo> cachedUser() const;
    void cacheUser(const std::optional<UserInfo>& user);

    void requestUserRecord(const std::string& token, std::function<void(RecordAnswer)> completion);
    void fetchUser(const std::string& token, Purpose purpose, bool ephemeral);
    void fetchDidFinish(Purpose purpose, const std::string& token, bool ephemeral, RecordAnswer answer);
    void askToSwitchAccount(const std::string& token, bool ephemeral, RecordAnswer answer);
    void signIn(const std::string& token, bool ephemeral);
    void signInFailed(const std::string& why);
    void commitSignIn(const std::string& token, bool ephemeral, UserInfo user);
    void signOut();
    void postUserConfigChanged();

    UserDefaults& defaults_;
    std::shared_ptr<TestableURLSessionProtocol> session_;
    LoginKeyring keyring_;
    std::optional<std::string> token_;
    bool ephemeral_ = false;
    // The marker promised a keyring token that could not be had this run.
    bool storedTokenUnavailable_ = false;
    std::optional<UserInfo> user_;
    // Every sign-in and sign-out starts a new generation; answers of an older one are dropped.
    unsigned generation_ = 0;
    std::unique_ptr<LoginWindow> window_;
    std::shared_ptr<Alert> switchAlert_;
    bool checkingLink_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kx
