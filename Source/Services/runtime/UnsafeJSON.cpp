#include "Services/runtime/UnsafeJSON.h"

#include <cmath>
#include <limits>

namespace kx {

namespace {

using json = nlohmann::json;

constexpr double twoToThe63 = 9223372036854775808.0;

// The stored form of one member or element, by the tests in their order: null, boolean,
// integer, double, string, object, list. Every value of a JSON text passes one of them.
json readValue(JSONValue value, const CodingPathNode* path)
{
    switch (value.kind()) {
    case JSONValue::Kind::null:
        return nullptr;
    case JSONValue::Kind::boolean:
        return value.boolean();
    case JSONValue::Kind::integer:
        return value.integer();
    case JSONValue::Kind::string:
        return value.string();
    case JSONValue::Kind::unsignedInteger: {
        const auto number = value.unsignedInteger();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return json(static_cast<std::int64_t>(number));
        return json(static_cast<double>(number));
    }
    case JSONValue::Kind::floating: {
        const double number = value.floating();
        if (number >= -twoToThe63 && number < twoToThe63 && std::trunc(number) == number)
            return json(static_cast<std::int64_t>(number));
        return json(number);
    }
    case JSONValue::Kind::object:
        return json(UnsafeJSON::decodeDictionary(value, path));
    case JSONValue::Kind::array:
        return json(UnsafeJSON::decodeArray(value, path));
    }
    throw DecodingError::dataCorrupted(path, "Invalid value");
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

UnsafeJSON::Dictionary UnsafeJSON::decodeDictionary(JSONValue object, const CodingPathNode* path)
{
    Dictionary dictionary;
    object.forEachMember([&](JSONValue key, JSONValue member) {
        std::string name = key.string();
        const CodingPathNode node{path, name};
        json value = readValue(member, &node);
        dictionary.insert_or_assign(std::move(name), std::move(value)); // the last of equal names wins
    });
    return dictionary;
}

nlohmann::json::array_t UnsafeJSON::decodeArray(JSONValue array, const CodingPathNode* path)
{
    json::array_t list;
    list.reserve(array.size());
    std::int64_t index = 0;
    array.forEachElement([&](JSONValue element) {
        const CodingPathNode node{path, {}, index++};
        list.push_back(readValue(element, &node));
    });
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
