// The signed-in user's record as the back end's "studio/me" answers it, and as it is cached in
// the user defaults between runs. Members the back end adds are ignored; only these are kept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"
#include "Services/runtime/JSONCoding.h"

namespace kx {

struct UserInfo {
    std::string id;
    std::string name;
    std::optional<std::string> email;
    std::optional<std::string> avatar;
    KX_RECORD(UserInfo, id, name, email, avatar)

    // Answers larger than this are refused unread: a record is a few hundred bytes.
    static constexpr std::size_t maximumSize = 256 * 1024;
    static constexpr const char* errorDomain = "UserInfoErrorDomain";

    // The record in `text`: one JSON object with "id" and "name" as non-empty text. Anything
    // else (not JSON, too large, too deep, other types) is an error whose texts never quote the
    // answer.
    static Result<UserInfo, Error> decode(std::string_view text);
    // The record's JSON text for the defaults.
    std::string encode() const;

    friend bool operator==(const UserInfo&, const UserInfo&) = default;
};

} // namespace kx
