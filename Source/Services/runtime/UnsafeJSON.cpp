#include "Services/runtime/UnsafeJSON.h"

#include <cmath>
#include <limits>

namespace kx {

namespace {

using json = nlohmann::json;

constexpr double twoToThe63 = 9223372036854775808.0;

// The stored form of one member or element, by the tests in their order: null, boolean,
// integer, double, string, object, list.
json readValue(const json& value, const CodingPathNode* path)
{
    switch (value.type()) {
    case json::value_t::null:
    case json::value_t::boolean:
    case json::value_t::number_integer:
    case json::value_t::string:
        return value;
    case json::value_t::number_unsigned: {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return json(static_cast<std::int64_t>(number));
        return json(static_cast<double>(number));
    }
    case json::value_t::number_float: {
        const double number = value.get<double>();
        if (number >= -twoToThe63 && number < twoToThe63 && std::trunc(number) == number)
            return json(static_cast<std::int64_t>(number));
        return value;
    }
    case json::value_t::object:
        return json(UnsafeJSON::decodeDictionary(value, path));
    case json::value_t::array:
        return json(UnsafeJSON::decodeArray(value, path));
    default:
        throw DecodingError::dataCorrupted(path, "Invalid value");
    }
}

void writeValue(JSONWriter& writer, const json& value, const CodingPathNode* container, const CodingPathNode* path)
{
    switch (value.type()) {
    case json::value_t::null:
        writer.writeNull();
        return;
    case json::value_t::boolean:
        writer.writeBool(value.get<bool>());
        return;
    case json::value_t::number_integer:
        writer.writeInteger(value.get<std::int64_t>());
        return;
    case json::value_t::number_unsigned: {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            break;
        writer.writeInteger(static_cast<std::int64_t>(number));
        return;
    }
    case json::value_t::number_float:
        if (!std::isfinite(value.get<double>()))
            break;
        writer.writeDouble(value.get<double>(), path);
        return;
    case json::value_t::string:
        writer.writeString(value.get_ref<const std::string&>(), path);
        return;
    case json::value_t::object:
        UnsafeJSON::encodeDictionary(writer, value.get_ref<const json::object_t&>(), path);
        return;
    case json::value_t::array:
        UnsafeJSON::encodeArray(writer, value.get_ref<const json::array_t&>(), path);
        return;
    default:
        break;
    }
    throw EncodingError::invalidValue(container, "Invalid value");
}

} // namespace

UnsafeJSON::Dictionary UnsafeJSON::decodeDictionary(const nlohmann::json& object, const CodingPathNode* path)
{
    Dictionary dictionary;
    for (const auto& [key, member] : object.get_ref<const json::object_t&>()) {
        const CodingPathNode node{path, key};
        dictionary.emplace(key, readValue(member, &node));
    }
    return dictionary;
}

nlohmann::json::array_t UnsafeJSON::decodeArray(const nlohmann::json& array, const CodingPathNode* path)
{
    json::array_t list;
    list.reserve(array.size());
    std::int64_t index = 0;
    for (const auto& element : array) {
        const CodingPathNode node{path, {}, index++};
        list.push_back(readValue(element, &node));
    }
    return list;
}

void UnsafeJSON::encodeDictionary(JSONWriter& writer, const Dictionary& dictionary, const CodingPathNode* path)
{
    writer.writeMembers(dictionary, path, [&](const json& member, const CodingPathNode* node) {
        writeValue(writer, member, path, node);
    });
}

void UnsafeJSON::encodeArray(JSONWriter& writer, const nlohmann::json::array_t& array, const CodingPathNode* path)
{
    writer.raw('[');
    std::int64_t index = 0;
    for (const auto& element : array) {
        if (index)
            writer.raw(',');
        const CodingPathNode node{path, {}, index++};
        writeValue(writer, element, path, &node);
    }
    writer.raw(']');
}

} // namespace kx
