// The service codec's strict rules for values whose maps keep the order of the JSON text: the
// device catalogue and the selection that carries a device inline. The preview walks a
// device's skins and hands, and the manager groups devices, in the order the page wrote them,
// which a document of sorted members cannot give.
//
// The same descriptors (KX_RECORD) and the same failures (DecodingError with its coding path)
// as JSONCoding, and the same exact types: no Bool from a number, no integer from 2.5, whole
// doubles accepted as integers, any number as a double. Added here:
// - OrderedMap<T>: a JSON object whose members are all T, in text order (of repeated names
//   the last value counts, at the place of the first);
// - untagged unions: a struct with `std::variant<Cases...> value` and
//   `static constexpr bool untaggedUnion = true`; each case is tried in order on the same
//   object, the first that decodes wins, and when none does the last case's failure is
//   reported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Services/runtime/CodingErrors.h"
#include "Services/runtime/ServiceRecord.h"

namespace kx {

using OrderedJSON = nlohmann::ordered_json;

template <class T>
struct OrderedMap {
    std::vector<std::pair<std::string, T>> entries;

    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }
    auto begin() const { return entries.begin(); }
    auto end() const { return entries.end(); }
    const T* find(std::string_view key) const
    {
        for (const auto& [name, value] : entries) {
            if (name == key)
                return &value;
        }
        return nullptr;
    }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    std::vector<std::string> keys() const
    {
        std::vector<std::string> names;
        for (const auto& entry : entries)
            names.push_back(entry.first);
        return names;
    }
    friend bool operator==(const OrderedMap&, const OrderedMap&) = default;
};

template <class T, class Enable = void>
struct OrderedJSONCoding;

namespace ordered_json_detail {

[[noreturn]] void throwMismatchOrNull(const OrderedJSON& json, const CodingPathNode* path, std::string_view expected);

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
    using Inner = T;
};

template <class T>
concept UntaggedUnion = requires(T union_) {
    requires T::untaggedUnion;
    union_.value;
};

template <class T>
concept Record = requires { T::fields(); } && !requires { T::tagKey; } && !UntaggedUnion<T>;

inline void requireObject(const OrderedJSON& json, const CodingPathNode* path)
{
    if (!json.is_object())
        throwMismatchOrNull(json, path, "Dictionary");
}

// Reads the fields of a record, in their declared order, from an object.
template <class T>
void decodeFields(const OrderedJSON& object, T& value, const CodingPathNode* path)
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
                            member = OrderedJSONCoding<typename IsOptional<Member>::Inner>::decode(*found, &node);
                    } else {
                        if (found == object.end())
                            throw DecodingError::keyNotFound(path, field.name);
                        member = OrderedJSONCoding<Member>::decode(*found, &node);
                    }
                }(),
                ...);
        },
        T::fields());
}

} // namespace ordered_json_detail

class OrderedJSONDecoder {
public:
    // One JSON text as an ordered document, read as strictly (and no deeper) than the service
    // layer reads; throws DecodingError (dataCorrupted) for anything else.
    static OrderedJSON parse(std::string_view text);

    template <class T>
    static T decode(std::string_view text)
    {
        const OrderedJSON document = parse(text);
        return OrderedJSONCoding<T>::decode(document, nullptr);
    }
};

template <>
struct OrderedJSONCoding<std::string> {
    static std::string decode(const OrderedJSON& json, const CodingPathNode* path);
};

template <>
struct OrderedJSONCoding<bool> {
    static bool decode(const OrderedJSON& json, const CodingPathNode* path);
};

template <>
struct OrderedJSONCoding<std::int64_t> {
    static std::int64_t decode(const OrderedJSON& json, const CodingPathNode* path);
};

template <>
struct OrderedJSONCoding<double> {
    static double decode(const OrderedJSON& json, const CodingPathNode* path);
};

template <class T>
struct OrderedJSONCoding<OrderedMap<T>> {
    static OrderedMap<T> decode(const OrderedJSON& json, const CodingPathNode* path)
    {
        ordered_json_detail::requireObject(json, path);
        OrderedMap<T> result;
        result.entries.reserve(json.size());
        for (const auto& [key, member] : json.items()) {
            const CodingPathNode node{path, key};
            result.entries.emplace_back(key, OrderedJSONCoding<T>::decode(member, &node));
        }
        return result;
    }
};

template <ordered_json_detail::Record T>
struct OrderedJSONCoding<T> {
    static T decode(const OrderedJSON& json, const CodingPathNode* path)
    {
        ordered_json_detail::requireObject(json, path);
        T value{};
        ordered_json_detail::decodeFields(json, value, path);
        return value;
    }
};

template <ordered_json_detail::UntaggedUnion T>
struct OrderedJSONCoding<T> {
    using Variant = decltype(std::declval<T>().value);

    static T decode(const OrderedJSON& json, const CodingPathNode* path)
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
    static void tryCases(const OrderedJSON& json, const CodingPathNode* path, std::optional<T>& result,
                         std::optional<DecodingError>& failure, std::index_sequence<I...>)
    {
        (
            [&] {
                using Case = std::variant_alternative_t<I, Variant>;
                if (result)
                    return;
                try {
                    Case payload = OrderedJSONCoding<Case>::decode(json, path);
                    result.emplace();
                    result->value.template emplace<I>(std::move(payload));
                } catch (const DecodingError& error) {
                    failure = error; // only the last attempt's failure is reported
                }
            }(),
            ...);
    }
};

} // namespace kx
