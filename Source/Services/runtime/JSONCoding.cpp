#include "Services/runtime/JSONCoding.h"

namespace kx {

namespace json_detail {

std::string_view describeKind(const nlohmann::json& json)
{
    switch (json.type()) {
    case nlohmann::json::value_t::null: return "null";
    case nlohmann::json::value_t::boolean: return "bool";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float: return "number";
    case nlohmann::json::value_t::string: return "a string";
    case nlohmann::json::value_t::array: return "an array";
    case nlohmann::json::value_t::object: return "a dictionary";
    default: return "an unsupported value";
    }
}

void throwMismatchOrNull(const nlohmann::json& json, const CodingPathNode* path, std::string_view expected)
{
    if (json.is_null())
        throw DecodingError::valueNotFound(path, expected);
    throw DecodingError::typeMismatch(path, expected, describeKind(json));
}

} // namespace json_detail

namespace {

constexpr double twoToThe63 = 9223372036854775808.0;

[[noreturn]] void throwNotAnInteger(const nlohmann::json& json, const CodingPathNode* path)
{
    throw DecodingError::dataCorrupted(path, "Parsed JSON number <" + json.dump() + "> does not fit in Int64.");
}

} // namespace

std::int64_t JSONCoding<std::int64_t>::decode(const nlohmann::json& json, const CodingPathNode* path)
{
    switch (json.type()) {
    case nlohmann::json::value_t::number_integer:
        return json.get<std::int64_t>();
    case nlohmann::json::value_t::number_unsigned: {
        const auto value = json.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throwNotAnInteger(json, path);
        return static_cast<std::int64_t>(value);
    }
    case nlohmann::json::value_t::number_float: {
        const double value = json.get<double>();
        if (!(value >= -twoToThe63 && value < twoToThe63) || std::trunc(value) != value)
            throwNotAnInteger(json, path);
        return static_cast<std::int64_t>(value);
    }
    default:
        json_detail::throwMismatchOrNull(json, path, "Int64");
    }
}

double JSONCoding<double>::decode(const nlohmann::json& json, const CodingPathNode* path)
{
    switch (json.type()) {
    case nlohmann::json::value_t::number_integer:
        return static_cast<double>(json.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned:
        return static_cast<double>(json.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
        return json.get<double>();
    default:
        json_detail::throwMismatchOrNull(json, path, "Double");
    }
}

} // namespace kx
