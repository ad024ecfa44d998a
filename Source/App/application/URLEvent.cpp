#include "App/application/URLEvent.h"

namespace kx {

bool URLEvent::isOurs(const std::string& url)
{
    return url.rfind(scheme, 0) == 0;
}

URLEvent::Kind URLEvent::kindOf(const std::string& url, bool isLoggedIn)
{
    if (isLoggedIn && url.rfind(storePackagePrefix, 0) == 0)
        return Kind::storeLink;
    if (url == scheme)
        return Kind::activate;
    if (isOurs(url))
        return Kind::loginLink;
    return Kind::ignored;
}

} // namespace kx
