#include "Services/runtime/JSONCoding.h"

namespace kx {

namespace json_detail {

void throwMismatchOrNull(JSONValue json, const CodingPathNode* path, std::string_view expected)
{
    if (json.isNull())
        throw DecodingError::valueNotFound(path, expected);
    throw DecodingError::typeMismatch(path, expected, json.describeKind());
}

} // namespace json_detail

namespace {

constexpr double twoToThe63 = 9223372036854775808.0;

// The number as JSON writes it, for the error text.
template <class Number>
[[noreturn]] void throwNotAnInteger(Number number, const CodingPathNode* path)
{
    throw DecodingError::dataCorrupted(path, "Parsed JSON number <" + nlohmann::json(number).dump() + "> does not fit in Int64.");
}

} // namespace

std::int64_t JSONCoding<std::int64_t>::decode(JSONValue json, const CodingPathNode* path)
{
    switch (json.kind()) {
    case JSONValue::Kind::integer:
        return json.integer();
    case JSONValue::Kind::unsignedInteger: {
        const auto value = json.unsignedInteger();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throwNotAnInteger(value, path);
        return static_cast<std::int64_t>(value);
    }
    case JSONValue::Kind::floating: {
        const double value = json.floating();
        if (!(value >= -twoToThe63 && value < twoToThe63) || std::trunc(value) != value)
            throwNotAnInteger(value, path);
        return static_cast<std::int64_t>(value);
    }
    default:
        json_detail::throwMismatchOrNull(json, path, "Int64");
    }
}

double JSONCoding<double>::decode(JSONValue json, const CodingPathNode* path)
{
    switch (json.kind()) {
    case JSONValue::Kind::integer:
        return static_cast<double>(json.integer());
    case JSONValue::Kind::unsignedInteger:
        return static_cast<double>(json.unsignedInteger());
    case JSONValue::Kind::floating:
        return json.floating();
    default:
        json_detail::throwMismatchOrNull(json, path, "Double");
    }
}

} // namespace kx
