#include "App/account/UserInfo.h"

#include "Services/runtime/JSONDecoder.h"
#include "Services/runtime/JSONEncoder.h"

namespace kx {

Result<UserInfo, Error> UserInfo::decode(std::string_view text)
{
    using R = Result<UserInfo, Error>;
    if (text.size() > maximumSize)
        return R::failure(Error(errorDomain, 1, "The user record is too large."));
    try {
        UserInfo user = JSONDecoder().decode<UserInfo>(text);
        // Ids and names are short single lines; a longer one is not a record of ours.
        const auto isLine = [](const std::string& value) {
            return !value.empty() && value.size() <= 1024 && value.find_first_of("\r\n") == std::string::npos;
        };
        if (!isLine(user.id) || !isLine(user.name))
            return R::failure(Error(errorDomain, 2, "The user record has no usable id or name."));
        return R::success(std::move(user));
    } catch (const DecodingError& error) {
        // The decoder's texts name the member and the type, never the value.
        return R::failure(Error(errorDomain, 3, "The user record could not be read.", error.what()));
    }
}

std::string UserInfo::encode() const
{
    try {
        return JSONEncoder().encode(*this);
    } catch (const EncodingError&) {
        return {}; // text that is not UTF-8: nothing to cache
    }
}

} // namespace kx
