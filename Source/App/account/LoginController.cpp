#include "App/account/LoginController.h"

#include <gio/gio.h>
#include <glib.h>

#include "App/account/AppServices.h"
#include "App/account/LoginWindow.h"
#include "App/account/MachineIdentifier.h"
#include "App/account/TestableHttpSession.h"
#include "App/shell/AppInfo.h"
#include "App/shell/ModalAlert.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace kx {

namespace {

constexpr auto fetchTimeout = std::chrono::seconds(30);
constexpr size_t maximumTokenLength = 4096;

void log(const std::string& message)
{
    RKLog(message, RKLogKind::general);
}

// Tokens are short printable ASCII without spaces; anything else is not one of ours and must
// not reach a header.
bool isUsableToken(const std::string& token)
{
    if (token.empty() || token.size() > maximumTokenLength)
        return false;
    for (unsigned char c : token) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

struct LoginLink {
    std::string token;
    bool ephemeral = false;
};

std::optional<LoginLink> parseLoginLink(const std::string& url)
{
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_ENCODED_QUERY, nullptr);
    if (!uri)
        return std::nullopt;
    std::optional<LoginLink> link;
    const char* query = g_uri_get_query(uri);
    if (g_strcmp0(g_uri_get_scheme(uri), "korvel-x") == 0 && query) {
        GHashTable* params = g_uri_parse_params(query, -1, "&", G_URI_PARAMS_NONE, nullptr);
        if (params) {
            const char* token = static_cast<const char*>(g_hash_table_lookup(params, "fut"));
            const char* ephemeral = static_cast<const char*>(g_hash_table_lookup(params, "ephemeral"));
            if (token && isUsableToken(token))
                link = LoginLink{token, ephemeral && (g_strcmp0(ephemeral, "1") == 0 || g_strcmp0(ephemeral, "true") == 0)};
            g_hash_table_unref(params);
        }
    }
    g_uri_unref(uri);
    return link;
}

// Text from the back end as a question shows it: without invisible characters that could
// reorder or hide what the user reads, and not longer than a line.
std::string backEndTextAsShown(const std::string& text)
{
    constexpr int maximumCharacters = 80;
    std::string shown;
    int count = 0;
    const char* end = text.c_str() + text.size();
    for (const char* at = text.c_str(); at < end; at = g_utf8_next_char(at)) {
        const gunichar c = g_utf8_get_char_validated(at, end - at);
        if (c == gunichar(-1) || c == gunichar(-2))
            break; // records are UTF-8; the rest of a broken one is not shown
        const GUnicodeType type = g_unichar_type(c);
        if (type == G_UNICODE_CONTROL || type == G_UNICODE_FORMAT || type == G_UNICODE_LINE_SEPARATOR
            || type == G_UNICODE_PARAGRAPH_SEPARATOR)
            continue;
        if (count == maximumCharacters) {
            shown += "\u2026";
            break;
        }
        shown.append(at, std::size_t(g_utf8_next_char(at) - at));
        ++count;
    }
    return shown;
}

std::string quotedBackEndText(const std::string& text)
{
    return "\u201C" + backEndTextAsShown(text) + "\u201D";
}

// “Name” (address)
std::string accountAsShown(const UserInfo& user)
{
    std::string text = quotedBackEndText(user.name);
    if (user.email && !backEndTextAsShown(*user.email).empty())
        text += " (" + backEndTextAsShown(*user.email) + ")";
    return text;
}

void quitApplication()
{
    if (GApplication* application = g_application_get_default())
        g_application_quit(application);
}

} // namespace

LoginController& LoginController::shared()
{
    static LoginController* controller = new LoginController(); // lives as long as the process
    return *controller;
}

LoginController::LoginController(UserDefaults& defaults, std::shared_ptr<TestableURLSessionProtocol> session,
                                 std::string keyringApplication)
    : terminateHandler(quitApplication)
    , defaults_(defaults)
    , session_(session ? std::move(session) : std::make_shared<TestableHttpSession>())
    , keyring_(keyringApplication.empty() ? AppInfo::current()->bundle().bundleIdentifier() : keyringApplication)
{
    if (hasStoredToken())
        user_ = cachedUser();
}

LoginController::~LoginController()
{
    if (switchAlert_ && switchAlert_->window())
        gtk_window_close(switchAlert_->window());
}

std::string LoginController::environmentName() const
{
    return AppServices::currentEnvironment().name;
}

bool LoginController::hasStoredToken() const
{
    const auto stored = defaults_.objectForKey(tokenStoredKey);
    const auto name = environmentName();
    return stored.is_object() && stored.contains(name) && stored[name].is_boolean() && stored[name].get<bool>();
}

void LoginController::setStoredToken(bool stored)
{
    auto markers = defaults_.objectForKey(tokenStoredKey);
    if (!markers.is_object())
        markers = nlohmann::json::object();
    if (stored)
        markers[environmentName()] = true;
    else
        markers.erase(environmentName());
    defaults_.setObject(tokenStoredKey, markers.empty() ? nlohmann::json() : markers);
}

std::optional<UserInfo> LoginController::cachedUser() const
{
    const auto records = defaults_.objectForKey(userInfoKey);
    const auto name = environmentName();
    if (!records.is_object() || !records.contains(name) || !records[name].is_string())
        return std::nullopt;
    auto user = UserInfo::decode(records[name].get<std::string>());
    if (user.isFailure()) {
        log("The cached user record could not be read; it is fetched again");
        return std::nullopt;
    }
    return user.value();
}

void LoginController::cacheUser(const std::optional<UserInfo>& user)
{
    auto records = defaults_.objectForKey(userInfoKey);
    if (!records.is_object())
        records = nlohmann::json::object();
    std::string text = user ? user->encode() : std::string();
    if (text.empty())
        records.erase(environmentName());
    else
        records[environmentName()] = text;
    defaults_.setObject(userInfoKey, records.empty() ? nlohmann::json() : records);
}

bool LoginController::isLoggedIn() const
{
    return token_.has_value() || (hasStoredToken() && !storedTokenUnavailable_);
}

bool LoginController::windowIsVisible() const
{
    return window_ && window_->isVisible();
}

bool LoginController::isBlocking() const
{
    return !isLoggedIn() || windowIsVisible();
}

bool LoginController::shouldOpenDocuments() const
{
    return !isBlocking();
}

bool LoginController::updatesDisabled() const
{
    return defaults_.boolForKey(updatesDisabledKey);
}

std::optional<std::string> LoginController::userId() const
{
    return user_ ? std::optional<std::string>(user_->id) : std::nullopt;
}

std::optional<std::string> LoginController::userName() const
{
    return user_ ? std::optional<std::string>(user_->name) : std::nullopt;
}

void LoginController::initialize()
{
    if (token_)
        return fetchUser(*token_, Purpose::refresh, ephemeral_);
    if (!hasStoredToken() || storedTokenUnavailable_)
        return;
    const unsigned generation = generation_;
    keyring_.lookup(environmentName(), [this, generation, alive = std::weak_ptr<bool>(alive_)](auto result) {
        if (alive.expired() || generation != generation_)
            return; // signed in or out meanwhile
        if (result.isFailure()) {
            log("The keyring could not be read (" + result.error().localizedDescription
                + "); sign in again for this session");
            storedTokenUnavailable_ = true;
            return showLoginWindow();
        }
        if (!result.value()) {
            log("The keyring holds no sign-in any more; signing out");
            signOut();
            return showLoginWindow();
        }
        token_ = *result.value();
        fetchUser(*token_, Purpose::refresh, false);
    });
}

void LoginController::requestUserRecord(const std::string& token, std::function<void(RecordAnswer)> completion)
{
    HttpSession::Request request;
    request.url = AppServices::userRecordURL();
    request.headers = {{"Authorization", "Token " + token}, {"Accept", "application/json"}};
    request.timeout = fetchTimeout;
    auto task = session_->testableDataTask(
        std::move(request), [completion = std::move(completion), alive = std::weak_ptr<bool>(alive_)](
                                auto data, auto response, auto error) {
            if (alive.expired())
                return;
            RecordAnswer answer;
            if (!response) {
                answer.failure = "The account service could not be reached ("
                                 + (error ? error->localizedDescription : std::string("no answer")) + ").";
            } else if (response->statusCode == 401 || response->statusCode == 403) {
                answer.refused = true;
                answer.failure = "The account service does not accept the sign-in.";
            } else if (response->statusCode < 200 || response->statusCode > 299) {
                answer.failure = "The account service answered with an error (status "
                                 + std::to_string(response->statusCode) + ").";
            } else if (auto decoded = UserInfo::decode(data.value_or("")); decoded.isFailure()) {
                answer.failure = "The account service's answer is not an account record.";
                log(decoded.error().localizedDescription + " " + decoded.error().localizedFailureReason);
            } else {
                answer.user = decoded.value();
            }
            completion(std::move(answer));
        });
    task->resume();
}

void LoginController::fetchUser(const std::string& token, Purpose purpose, bool ephemeral)
{
    const unsigned generation = generation_;
    requestUserRecord(token, [this, generation, purpose, token, ephemeral](RecordAnswer answer) {
        if (generation != generation_)
            return;
        fetchDidFinish(purpose, token, ephemeral, std::move(answer));
    });
}

void LoginController::fetchDidFinish(Purpose purpose, const std::string& token, bool ephemeral, RecordAnswer answer)
{
    if (answer.refused) {
        if (purpose == Purpose::signIn)
            return signInFailed("The back end refused the login link's token");
        log("The back end refused the stored sign-in; signing out");
        signOut();
        return showLoginWindow();
    }
    if (purpose == Purpose::signIn) {
        if (!answer.user)
            return signInFailed(answer.failure);
        return commitSignIn(token, ephemeral, std::move(*answer.user));
    }
    if (answer.user) {
        user_ = std::move(*answer.user);
        if (!ephemeral_)
            cacheUser(user_);
    } else {
        log("The user record could not be fetched; keeping the cached record. " + answer.failure);
    }
    postUserConfigChanged();
}

void LoginController::resetTokenFromUrlWithUrl(const std::string& url)
{
    auto link = parseLoginLink(url);
    if (!link) {
        log("A login link without a usable token was ignored");
        return;
    }
    if (!isLoggedIn() || windowIsVisible())
        return signIn(link->token, link->ephemeral);
    if (switchAlert_ || checkingLink_) {
        log("A login link arrived while another waits for the user's answer; it was ignored");
        return;
    }
    // Any page can open such a link; signing in silently would put the user's work into an
    // account that is not theirs. The question names the account the link opens, so that
    // account is asked for first.
    checkingLink_ = true;
    requestUserRecord(link->token, [this, link = *link](RecordAnswer answer) {
        checkingLink_ = false;
        askToSwitchAccount(link.token, link.ephemeral, std::move(answer));
    });
}

void LoginController::askToSwitchAccount(const std::string& token, bool ephemeral, RecordAnswer answer)
{
    if (!isLoggedIn() || windowIsVisible()) {
        // Signed out meanwhile: nobody's work is at stake any more.
        return signIn(token, ephemeral);
    }
    const std::string current = userName() ? " You are signed in as " + quotedBackEndText(*userName()) + "." : std::string();
    if (!answer.user) {
        log("A login link was not used: " + answer.failure);
        switchAlert_ = ModalAlert::alertWithMessageText(
            "The login link could not be used.", "OK", std::nullopt, std::nullopt,
            "Korvel X could not find out which account the link signs in to. " + answer.failure + current
                + " Nothing was changed.");
        switchAlert_->setAlertStyle(Alert::Style::warning);
        switchAlert_->beginSheetModal(nullptr, [this, alive = std::weak_ptr<bool>(alive_)](Alert::ModalResponse) {
            if (!alive.expired())
                switchAlert_.reset();
        });
        return;
    }
    const std::string lasting = !ephemeral ? std::string()
                                : hasStoredToken() ? " This sign-in lasts until Korvel X quits; then your saved sign-in comes back."
                                                   : " This sign-in lasts until Korvel X quits.";
    switchAlert_ = ModalAlert::alertWithMessageText(
        "Sign in with another account?", "Sign In", std::string("Cancel"), std::nullopt,
        "A link asks Korvel X to sign in as " + accountAsShown(*answer.user) + "." + current + lasting
            + " Sign in only if you opened this link yourself to sign in to that account.");
    switchAlert_->setAlertStyle(Alert::Style::warning);
    // Cancel is the answer of Return and Escape alike (without an Escape button, Escape
    // answers as closing does); signing in takes a deliberate press.
    auto buttons = switchAlert_->buttons();
    buttons[1]->setKeyEquivalent("\r");
    buttons[0]->setRequiresDeliberatePress(true);
    switchAlert_->beginSheetModal(nullptr, [this, token, ephemeral, user = std::move(*answer.user),
                                            alive = std::weak_ptr<bool>(alive_)](Alert::ModalResponse response) mutable {
        if (alive.expired())
            return;
        switchAlert_.reset();
        if (response != Alert::firstButtonReturn) {
            log("The user declined a login link");
            return;
        }
        // The account the user agreed to, as the back end gave it: no second answer may put
        // another one in its place.
        ++generation_;
        commitSignIn(token, ephemeral, std::move(user));
    });
}

void LoginController::signIn(const std::string& token, bool ephemeral)
{
    ++generation_; // a refresh still under way must not land on the new sign-in
    if (window_)
        window_->setBusy(true);
    fetchUser(token, Purpose::signIn, ephemeral);
}

void LoginController::signInFailed(const std::string& why)
{
    log("Sign-in failed: " + why);
    if (window_) {
        window_->setBusy(false);
        if (window_->isVisible())
            window_->shake();
    }
}

void LoginController::commitSignIn(const std::string& token, bool ephemeral, UserInfo user)
{
    token_ = token;
    ephemeral_ = ephemeral;
    storedTokenUnavailable_ = false;
    user_ = std::move(user);
    // Nothing of an ephemeral sign-in is written: it lasts for the session, and the sign-in
    // stored before it (keyring entry, marker and record) is there again at the next launch.
    if (!ephemeral) {
        cacheUser(user_);
        const unsigned generation = generation_;
        keyring_.store(environmentName(), token, [this, generation, alive = std::weak_ptr<bool>(alive_)](auto error) {
            if (alive.expired() || generation != generation_)
                return;
            if (error) {
                log(error->localizedDescription + "; the sign-in is kept for this session only");
                setStoredToken(false);
            } else {
                setStoredToken(true);
            }
        });
    }
    log("Signed in");
    if (window_) {
        window_->setBusy(false);
        window_->close();
    }
    NotificationCenter::defaultCenter().post(LoginTokenDidChangeNotification, this);
    postUserConfigChanged();
    if (didSignInHandler)
        didSignInHandler();
}

void LoginController::postUserConfigChanged()
{
    NotificationCenter::defaultCenter().post(UserConfigChangedNotification, this);
}

void LoginController::logoutAndQuit(bool ask)
{
    if (ask) {
        // Signing out forgets the saved sign-in too, which an ephemeral one only stands in front of.
        std::string saved;
        if (ephemeral_ && hasStoredToken()) {
            const auto record = cachedUser();
            saved = " Your saved sign-in" + (record ? " as " + accountAsShown(*record) : std::string())
                    + " goes too, so the next launch asks you to sign in.";
        }
        auto alert = ModalAlert::alertWithMessageText("Are you sure you want to sign out?", "Sign Out",
                                                      std::string("Cancel"), std::nullopt,
                                                      "Korvel X quits after signing out." + saved);
        if (alert->runModal() != Alert::firstButtonReturn)
            return;
    }
    signOut();
    log("Signed out");
    if (ask && terminateHandler)
        terminateHandler();
}

void LoginController::signOut()
{
    ++generation_;
    const bool hadToken = token_.has_value() || hasStoredToken();
    token_.reset();
    ephemeral_ = false;
    storedTokenUnavailable_ = false;
    user_.reset();
    setStoredToken(false);
    cacheUser(std::nullopt);
    keyring_.clear(environmentName(), [](std::optional<Error> error) {
        if (error)
            log(error->localizedDescription);
    });
    if (hadToken)
        NotificationCenter::defaultCenter().post(LoginTokenDidChangeNotification, this);
}

void LoginController::clearEphemeralToken()
{
    if (!ephemeral_)
        return;
    ++generation_;
    token_.reset();
    user_.reset();
    ephemeral_ = false;
}

void LoginController::showLoginWindow()
{
    if (!window_) {
        LoginWindow::Handlers handlers;
        handlers.link = [this](const std::string& url) { resetTokenFromUrlWithUrl(url); };
        handlers.enterpriseDomain = [this](const std::string& domain) {
            detectEnterpriseDomain(domain, [this](bool taken) {
                if (taken && window_)
                    window_->loadURL(AppServices::loginURL(MachineIdentifier::current()));
                else if (window_)
                    window_->shake();
            });
        };
        window_ = std::make_unique<LoginWindow>(std::move(handlers));
    }
    if (AppInfo::current()->isEnterprise() && !defaults_.stringForKey(AppServices::enterpriseDomainKey))
        window_->loadEnterprisePage();
    else
        window_->loadURL(AppServices::loginURL(MachineIdentifier::current()));
    window_->show();
}

void LoginController::detectEnterpriseDomain(const std::string& domain, std::function<void(bool)> completion)
{
    auto url = AppServices::enterpriseDetectURL(domain);
    if (!url) {
        log("Not a domain name; nothing was asked");
        return completion(false);
    }
    HttpSession::Request request;
    request.url = *url;
    request.timeout = std::chrono::seconds(15);
    auto task = session_->testableDataTask(
        std::move(request), [this, domain, completion = std::move(completion), alive = std::weak_ptr<bool>(alive_)](
                                auto data, auto response, auto) {
            if (alive.expired())
                return;
            std::string answer = data.value_or("");
            if (answer.size() > 256)
                answer.clear();
            while (!answer.empty() && g_ascii_isspace(answer.back()))
                answer.pop_back();
            const bool taken = response && response->statusCode == 200 && answer == AppServices::enterpriseDetectionAnswer;
            if (taken)
                defaults_.setString(AppServices::enterpriseDomainKey, domain);
            log(taken ? "The domain runs Korvel X Enterprise" : "The domain does not run Korvel X Enterprise");
            completion(taken);
        });
    task->resume();
}

} // namespace kx
