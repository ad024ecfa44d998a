#include "App/preview/OrderedJSONCoding.h"

#include <cmath>

#include "Services/runtime/JSONDecoder.h"

namespace kx {

namespace ordered_json_detail {

namespace {

// As the service codec names what it found.
std::string_view describeKind(const OrderedJSON& json)
{
    switch (json.type()) {
    case OrderedJSON::value_t::null: return "null";
    case OrderedJSON::value_t::boolean: return "bool";
    case OrderedJSON::value_t::number_integer:
    case OrderedJSON::value_t::number_unsigned:
    case OrderedJSON::value_t::number_float: return "number";
    case OrderedJSON::value_t::string: return "a string";
    case OrderedJSON::value_t::array: return "an array";
    case OrderedJSON::value_t::object: return "a dictionary";
    default: return "an unsupported value";
    }
}

} // namespace

void throwMismatchOrNull(const OrderedJSON& json, const CodingPathNode* path, std::string_view expected)
{
    if (json.is_null())
        throw DecodingError::valueNotFound(path, expected);
    throw DecodingError::typeMismatch(path, expected, describeKind(json));
}

} // namespace ordered_json_detail

OrderedJSON OrderedJSONDecoder::parse(std::string_view text)
{
    // The service layer's reader decides what is JSON (strict UTF-8, no overflow, a bounded
    // depth); only text it accepted is read again, for its order.
    JSONDecoder::parse(text);
    try {
        return OrderedJSON::parse(text);
    } catch (const OrderedJSON::exception&) {
        throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON.");
    }
}

std::string OrderedJSONCoding<std::string>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    if (!json.is_string())
        ordered_json_detail::throwMismatchOrNull(json, path, "String");
    return json.get_ref<const std::string&>();
}

bool OrderedJSONCoding<bool>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    if (!json.is_boolean())
        ordered_json_detail::throwMismatchOrNull(json, path, "Bool");
    return json.get<bool>();
}

std::int64_t OrderedJSONCoding<std::int64_t>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    constexpr double twoToThe63 = 9223372036854775808.0;
    const auto notAnInteger = [&] {
        return DecodingError::dataCorrupted(path, "Parsed JSON number <" + json.dump() + "> does not fit in Int64.");
    };
    switch (json.type()) {
    case OrderedJSON::value_t::number_integer:
        return json.get<std::int64_t>();
    case OrderedJSON::value_t::number_unsigned: {
        const auto value = json.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(INT64_MAX))
            throw notAnInteger();
        return static_cast<std::int64_t>(value);
    }
    case OrderedJSON::value_t::number_float: {
        const double value = json.get<double>();
        if (!(value >= -twoToThe63 && value < twoToThe63) || std::trunc(value) != value)
            throw notAnInteger();
        return static_cast<std::int64_t>(value);
    }
    default:
        ordered_json_detail::throwMismatchOrNull(json, path, "Int64");
    }
}

double OrderedJSONCoding<double>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    switch (json.type()) {
    case OrderedJSON::value_t::number_integer:
        return static_cast<double>(json.get<std::int64_t>());
    case OrderedJSON::value_t::number_unsigned:
        return static_cast<double>(json.get<std::uint64_t>());
    case OrderedJSON::value_t::number_float:
        return json.get<double>();
    default:
        ordered_json_detail::throwMismatchOrNull(json, path, "Double");
    }
}

} // namespace kx
