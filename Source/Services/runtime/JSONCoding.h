// The one strict JSON codec of the service layer. JSONCoding<T> writes a value as compact JSON
// text and reads it from a parsed document, by these rules:
// - text, booleans, 64-bit integers and doubles have exactly their JSON types: no boolean from
//   a number, no integer from 1.5; integers are read as doubles, whole doubles as integers
//   within range; non-finite doubles cannot be written;
// - records (KX_RECORD) are objects keyed by field name; optional fields are left out when
//   absent and read as absent when missing or null; unknown keys are ignored; the first
//   failing field fails the whole value;
// - raw-value enumerations are strings; an unknown one fails with "Cannot initialize <Type>
//   from invalid String value <text>";
// - tagged unions are one flat object with the case's tag under the union's tag key; an
//   unknown tag fails with error 3328 ("feature unsupported") of the "NSCocoaErrorDomain".
// Failures are thrown as DecodingError / EncodingError; JSONDecoder and JSONEncoder turn them
// into results at the top.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Services/runtime/CodingErrors.h"
#include "Services/runtime/JSONWriter.h"
#include "Services/runtime/RawEnum.h"
#include "Services/runtime/ServiceRecord.h"

namespace kx {

template <class T, class Enable = void>
struct JSONCoding;

// A value that has exactly one JSON form through JSONCoding.
template <class T>
concept ServiceValue = requires(JSONWriter& writer, const T& value, const nlohmann::json& json) {
    JSONCoding<T>::encode(writer, value, nullptr);
    { JSONCoding<T>::decode(json, nullptr) } -> std::same_as<T>;
};

namespace json_detail {

// How a found value is named in type-mismatch texts.
std::string_view describeKind(const nlohmann::json& json);

[[noreturn]] void throwMismatchOrNull(const nlohmann::json& json, const CodingPathNode* path,
                                      std::string_view expected);

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
    using Inner = T;
};

template <class T>
concept Record = requires { T::fields(); } && !requires { T::tagKey; };

template <class T>
struct IsVariant : std::false_type {};
template <class... C>
struct IsVariant<std::variant<C...>> : std::true_type {};

template <class T>
concept TaggedUnion = requires(T union_) {
    { T::tagKey } -> std::convertible_to<std::string_view>;
    union_.value;
} && IsVariant<decltype(std::declval<T>().value)>::value;

// Writes the fields of a record after `first` tells whether a comma is due.
template <class T>
void encodeFields(JSONWriter& writer, const T& value, bool first, const CodingPathNode* path)
{
    std::apply(
        [&](const auto&... field) {
            (
                [&] {
                    const auto& member = value.*(field.member);
                    using Member = std::remove_cvref_t<decltype(member)>;
                    if constexpr (IsOptional<Member>::value) {
                        if (!member)
                            return;
                    }
                    if (!first)
                        writer.raw(',');
                    first = false;
                    writer.writeKey(field.name);
                    const CodingPathNode node{path, field.name};
                    if constexpr (IsOptional<Member>::value)
                        JSONCoding<typename IsOptional<Member>::Inner>::encode(writer, *member, &node);
                    else
                        JSONCoding<Member>::encode(writer, member, &node);
                }(),
                ...);
        },
        T::fields());
}

// Reads the fields of a record from an object already checked to be one.
template <class T>
void decodeFields(const nlohmann::json& object, T& value, const CodingPathNode* path)
{
    std::apply(
        [&](const auto&... field) {
            (
                [&] {
                    auto& member = value.*(field.member);
                    using Member = std::remove_cvref_t<decltype(member)>;
                    const auto found = object.find(field.name);
                    const CodingPathNode node{path, field.name};
                    if constexpr (IsOptional<Member>::value) {
                        if (found == object.end() || found->is_null())
                            member.reset();
                        else
                            member = JSONCoding<typename IsOptional<Member>::Inner>::decode(*found, &node);
                    } else {
                        if (found == object.end())
                            throw DecodingError::keyNotFound(path, field.name);
                        member = JSONCoding<Member>::decode(*found, &node);
                    }
                }(),
                ...);
        },
        T::fields());
}

inline const nlohmann::json& requireObject(const nlohmann::json& json, const CodingPathNode* path)
{
    if (!json.is_object())
        throwMismatchOrNull(json, path, "Dictionary");
    return json;
}

} // namespace json_detail

template <>
struct JSONCoding<std::string> {
    static void encode(JSONWriter& writer, const std::string& value, const CodingPathNode* path)
    {
        writer.writeString(value, path);
    }
    static std::string decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        if (!json.is_string())
            json_detail::throwMismatchOrNull(json, path, "String");
        return json.get_ref<const std::string&>();
    }
};

template <>
struct JSONCoding<bool> {
    static void encode(JSONWriter& writer, bool value, const CodingPathNode*) { writer.writeBool(value); }
    static bool decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        if (!json.is_boolean())
            json_detail::throwMismatchOrNull(json, path, "Bool");
        return json.get<bool>();
    }
};

template <>
struct JSONCoding<std::int64_t> {
    static void encode(JSONWriter& writer, std::int64_t value, const CodingPathNode*) { writer.writeInteger(value); }
    static std::int64_t decode(const nlohmann::json& json, const CodingPathNode* path);
};

template <>
struct JSONCoding<double> {
    static void encode(JSONWriter& writer, double value, const CodingPathNode* path) { writer.writeDouble(value, path); }
    static double decode(const nlohmann::json& json, const CodingPathNode* path);
};

template <class T>
struct JSONCoding<std::vector<T>> {
    static void encode(JSONWriter& writer, const std::vector<T>& value, const CodingPathNode* path)
    {
        writer.raw('[');
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (i)
                writer.raw(',');
            const CodingPathNode node{path, {}, static_cast<std::int64_t>(i)};
            JSONCoding<T>::encode(writer, value[i], &node);
        }
        writer.raw(']');
    }
    static std::vector<T> decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        if (!json.is_array())
            json_detail::throwMismatchOrNull(json, path, "Array");
        std::vector<T> result;
        result.reserve(json.size());
        std::int64_t index = 0;
        for (const auto& element : json) {
            const CodingPathNode node{path, {}, index++};
            result.push_back(JSONCoding<T>::decode(element, &node));
        }
        return result;
    }
};

// A JSON object whose members are all of one type (discovery's map of services).
template <class T>
struct JSONCoding<std::map<std::string, T>> {
    static void encode(JSONWriter& writer, const std::map<std::string, T>& value, const CodingPathNode* path)
    {
        writer.writeMembers(value, path, [&](const T& member, const CodingPathNode* node) {
            JSONCoding<T>::encode(writer, member, node);
        });
    }
    static std::map<std::string, T> decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        std::map<std::string, T> result;
        for (const auto& [key, member] : json.items()) {
            const CodingPathNode node{path, key};
            result.emplace(key, JSONCoding<T>::decode(member, &node));
        }
        return result;
    }
};

template <RawValueEnum E>
struct JSONCoding<E> {
    static void encode(JSONWriter& writer, E value, const CodingPathNode* path) { writer.writeString(rawValue(value), path); }
    static E decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        if (!json.is_string())
            json_detail::throwMismatchOrNull(json, path, "String");
        const auto& text = json.get_ref<const std::string&>();
        if (auto value = enumFromRawValue<E>(text))
            return *value;
        throw DecodingError::dataCorrupted(path, "Cannot initialize " + std::string(rawEnumDescription<E>().name) +
                                                     " from invalid String value " + text);
    }
};

template <json_detail::Record T>
struct JSONCoding<T> {
    static void encode(JSONWriter& writer, const T& value, const CodingPathNode* path)
    {
        writer.raw('{');
        json_detail::encodeFields(writer, value, true, path);
        writer.raw('}');
    }
    static T decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        T value{};
        json_detail::decodeFields(json, value, path);
        return value;
    }
};

template <json_detail::TaggedUnion T>
struct JSONCoding<T> {
    using Variant = decltype(std::declval<T>().value);

    static void encode(JSONWriter& writer, const T& value, const CodingPathNode* path)
    {
        std::visit(
            [&](const auto& payload) {
                using Case = std::remove_cvref_t<decltype(payload)>;
                writer.raw('{');
                writer.writeKey(T::tagKey);
                writer.writeString(Case::tag, path);
                json_detail::encodeFields(writer, payload, false, path);
                writer.raw('}');
            },
            value.value);
    }

    static T decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        const auto found = json.find(T::tagKey);
        if (found == json.end())
            throw DecodingError::keyNotFound(path, T::tagKey);
        const CodingPathNode tagNode{path, T::tagKey};
        if (!found->is_string())
            json_detail::throwMismatchOrNull(*found, &tagNode, "String");
        const auto& tag = found->template get_ref<const std::string&>();
        std::optional<T> result;
        decodeCase(json, tag, path, result, std::make_index_sequence<std::variant_size_v<Variant>>{});
        if (!result)
            throw DecodingError::featureUnsupported(path);
        return std::move(*result);
    }

private:
    template <std::size_t... I>
    static void decodeCase(const nlohmann::json& json, const std::string& tag, const CodingPathNode* path,
                           std::optional<T>& result, std::index_sequence<I...>)
    {
        (
            [&] {
                using Case = std::variant_alternative_t<I, Variant>;
                if (result || tag != Case::tag)
                    return;
                Case payload{};
                json_detail::decodeFields(json, payload, path);
                result.emplace();
                result->value.template emplace<I>(std::move(payload));
            }(),
            ...);
    }
};

} // namespace kx
