// The one strict JSON codec of the service layer. JSONCoding<T> writes a value as compact JSON
// text and reads it from the tape of a parsed text (JSONValue), by these rules:
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
// into results at the top. A type whose coding reads a document (decode(const nlohmann::json&))
// still works: its value is built as a document from the tape first.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <unordered_map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Services/runtime/CodingErrors.h"
#include "Services/runtime/JSONValue.h"
#include "Services/runtime/JSONWriter.h"
#include "Services/runtime/OrderedMap.h"
#include "Services/runtime/RawEnum.h"
#include "Services/runtime/ServiceRecord.h"

namespace kx {

template <class T, class Enable = void>
struct JSONCoding;

namespace json_detail {

template <class T>
concept ReadsTape = requires(JSONValue json) {
    { JSONCoding<T>::decode(json, nullptr) } -> std::same_as<T>;
};

template <class T>
concept ReadsDocument = requires(const nlohmann::json& json) {
    { JSONCoding<T>::decode(json, nullptr) } -> std::same_as<T>;
};

} // namespace json_detail

// A value that has exactly one JSON form through JSONCoding.
template <class T>
concept ServiceValue = requires(JSONWriter& writer, const T& value) {
    JSONCoding<T>::encode(writer, value, nullptr);
} && (json_detail::ReadsTape<T> || json_detail::ReadsDocument<T>);

namespace json_detail {

// Reads a T from one value of the tape, by whichever form its coding offers.
template <class T>
T decodeValue(JSONValue json, const CodingPathNode* path)
{
    if constexpr (ReadsTape<T>)
        return JSONCoding<T>::decode(json, path);
    else
        return JSONCoding<T>::decode(json.toDocument(), path);
}

[[noreturn]] void throwMismatchOrNull(JSONValue json, const CodingPathNode* path, std::string_view expected);

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

// A union without a tag: each case is tried in order on the same value and the first that
// decodes wins (a struct with `std::variant<Cases...> value` and
// `static constexpr bool untaggedUnion = true`).
template <class T>
concept UntaggedUnion = T::untaggedUnion && requires(T union_) { union_.value; } && IsVariant<decltype(std::declval<T>().value)>::value;

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

// Reads the fields of a record, in their declared order, from an object already checked to be one.
template <class T>
void decodeFields(JSONValue object, T& value, const CodingPathNode* path)
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
                        if (!found || found->isNull())
                            member.reset();
                        else
                            member = decodeValue<typename IsOptional<Member>::Inner>(*found, &node);
                    } else {
                        if (!found)
                            throw DecodingError::keyNotFound(path, field.name);
                        member = decodeValue<Member>(*found, &node);
                    }
                }(),
                ...);
        },
        T::fields());
}

inline void requireObject(JSONValue json, const CodingPathNode* path)
{
    if (!json.isObject())
        throwMismatchOrNull(json, path, "Dictionary");
}

} // namespace json_detail

template <>
struct JSONCoding<std::string> {
    static void encode(JSONWriter& writer, const std::string& value, const CodingPathNode* path)
    {
        writer.writeString(value, path);
    }
    static std::string decode(JSONValue json, const CodingPathNode* path)
    {
        if (!json.isString())
            json_detail::throwMismatchOrNull(json, path, "String");
        return json.string();
    }
};

template <>
struct JSONCoding<bool> {
    static void encode(JSONWriter& writer, bool value, const CodingPathNode*) { writer.writeBool(value); }
    static bool decode(JSONValue json, const CodingPathNode* path)
    {
        if (!json.isBoolean())
            json_detail::throwMismatchOrNull(json, path, "Bool");
        return json.boolean();
    }
};

template <>
struct JSONCoding<std::int64_t> {
    static void encode(JSONWriter& writer, std::int64_t value, const CodingPathNode*) { writer.writeInteger(value); }
    static std::int64_t decode(JSONValue json, const CodingPathNode* path);
};

template <>
struct JSONCoding<double> {
    static void encode(JSONWriter& writer, double value, const CodingPathNode* path) { writer.writeDouble(value, path); }
    static double decode(JSONValue json, const CodingPathNode* path);
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
    static std::vector<T> decode(JSONValue json, const CodingPathNode* path)
    {
        if (!json.isArray())
            json_detail::throwMismatchOrNull(json, path, "Array");
        std::vector<T> result;
        result.reserve(json.size());
        std::int64_t index = 0;
        json.forEachElement([&](JSONValue element) {
            const CodingPathNode node{path, {}, index++};
            result.push_back(json_detail::decodeValue<T>(element, &node));
        });
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
    // Members in the order of their names; of repeated names the last counts, and the first
    // failing member in that order fails the map.
    static std::map<std::string, T> decode(JSONValue json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        std::map<std::string, JSONValue> members;
        json.forEachMember([&](JSONValue key, JSONValue member) { members.insert_or_assign(key.string(), member); });
        std::map<std::string, T> result;
        for (const auto& [key, member] : members) {
            const CodingPathNode node{path, key};
            result.emplace_hint(result.end(), key, json_detail::decodeValue<T>(member, &node));
        }
        return result;
    }
};

// A JSON object whose members are all of one type, in text order; of repeated names the last
// value counts, at the place of the first.
template <class T>
struct JSONCoding<OrderedMap<T>> {
    static void encode(JSONWriter& writer, const OrderedMap<T>& value, const CodingPathNode* path)
    {
        writer.writeMembers(value.entries, path, [&](const T& member, const CodingPathNode* node) {
            JSONCoding<T>::encode(writer, member, node);
        });
    }
    static OrderedMap<T> decode(JSONValue json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        std::vector<std::pair<std::string, JSONValue>> members;
        std::unordered_map<std::string, std::size_t> places;
        json.forEachMember([&](JSONValue key, JSONValue member) {
            auto name = key.string();
            if (auto [place, added] = places.try_emplace(name, members.size()); !added)
                members[place->second].second = member;
            else
                members.emplace_back(std::move(name), member);
        });
        OrderedMap<T> result;
        result.entries.reserve(members.size());
        for (auto& [key, member] : members) {
            const CodingPathNode node{path, key};
            auto decoded = json_detail::decodeValue<T>(member, &node);
            result.entries.emplace_back(std::move(key), std::move(decoded));
        }
        return result;
    }
};

template <RawValueEnum E>
struct JSONCoding<E> {
    static void encode(JSONWriter& writer, E value, const CodingPathNode* path) { writer.writeString(rawValue(value), path); }
    static E decode(JSONValue json, const CodingPathNode* path)
    {
        if (!json.isString())
            json_detail::throwMismatchOrNull(json, path, "String");
        const std::string text = json.string();
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
    static T decode(JSONValue json, const CodingPathNode* path)
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

    static T decode(JSONValue json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        const auto found = json.find(T::tagKey);
        if (!found)
            throw DecodingError::keyNotFound(path, T::tagKey);
        const CodingPathNode tagNode{path, T::tagKey};
        if (!found->isString())
            json_detail::throwMismatchOrNull(*found, &tagNode, "String");
        std::optional<T> result;
        decodeCase(json, *found, path, result, std::make_index_sequence<std::variant_size_v<Variant>>{});
        if (!result)
            throw DecodingError::featureUnsupported(path);
        return std::move(*result);
    }

private:
    template <std::size_t... I>
    static void decodeCase(JSONValue json, JSONValue tag, const CodingPathNode* path, std::optional<T>& result,
                           std::index_sequence<I...>)
    {
        (
            [&] {
                using Case = std::variant_alternative_t<I, Variant>;
                if (result || !tag.equals(Case::tag))
                    return;
                Case payload{};
                json_detail::decodeFields(json, payload, path);
                result.emplace();
                result->value.template emplace<I>(std::move(payload));
            }(),
            ...);
    }
};

template <json_detail::UntaggedUnion T>
struct JSONCoding<T> {
    using Variant = decltype(std::declval<T>().value);

    static void encode(JSONWriter& writer, const T& value, const CodingPathNode* path)
    {
        std::visit([&](const auto& payload) { JSONCoding<std::remove_cvref_t<decltype(payload)>>::encode(writer, payload, path); },
                   value.value);
    }

    // When no case decodes, the last case's failure is reported.
    static T decode(JSONValue json, const CodingPathNode* path)
    {
        std::optional<T> result;
        std::optional<DecodingError> failure;
        tryCases(json, path, result, failure, std::make_index_sequence<std::variant_size_v<Variant>>{});
        if (!result)
            throw *failure;
        return std::move(*result);
    }

private:
    template <std::size_t... I>
    static void tryCases(JSONValue json, const CodingPathNode* path, std::optional<T>& result,
                         std::optional<DecodingError>& failure, std::index_sequence<I...>)
    {
        (
            [&] {
                using Case = std::variant_alternative_t<I, Variant>;
                if (result)
                    return;
                try {
                    Case payload = json_detail::decodeValue<Case>(json, path);
                    result.emplace();
                    result->value.template emplace<I>(std::move(payload));
                } catch (const DecodingError& error) {
                    failure = error;
                }
            }(),
            ...);
    }
};

} // namespace kx
