// What a link of the application's scheme asks for: the package store in a document (store
// links of a signed-in user), bringing the application forward ("korvel-x://" alone), or a
// sign-in (any other link of the scheme, which may carry a login token). Links of other
// schemes are not ours.
#pragma once

#include <string>

namespace kx {

class URLEvent {
public:
    enum class Kind { storeLink, activate, loginLink, ignored };

    static constexpr const char* scheme = "korvel-x://";
    static constexpr const char* storePackagePrefix = "korvel-x://store/package/";

    static Kind kindOf(const std::string& url, bool isLoggedIn);
    static bool isOurs(const std::string& url);
};

} // namespace kx
