// The archive's JSON decoder: strict JSON parsing and dates in the archive's date format
// ("yyyy'-'MM'-'dd'T'HH':'mm':'ss'.'SSS'Z'", UTC). Manifests and the records stored beside them
// are decoded through it, by hand, with exact type checks.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/DateFormat.h"

namespace kx {

class KVArchiveDecoder {
public:
    // Records stored beside a project are shallow; the depth limit keeps hostile nesting off
    // the call stack.
    static constexpr int maximumDepth = 64;

    // Throws `corrupt` for text that is not JSON or nests deeper than maximumDepth.
    nlohmann::json parse(std::string_view text) const;
    // Throws `corrupt` for anything but a string in the archive's date format.
    DateFormat::Clock::time_point date(const nlohmann::json& value) const;

    // The error of data in the wrong form: KVDocumentArchiveError::unknown wrapping the
    // "isn't in the correct format" error with the reason.
    static KVDocumentArchiveError corrupt(const std::string& reason);
};

} // namespace kx
