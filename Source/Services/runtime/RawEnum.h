// Enumerations with string raw values: each one is described once, next to its declaration, by
// KX_RAW_ENUM (raw value = case name) or by a hand-written describeRawEnum, found by
// argument-dependent lookup. The codec and the helpers below read the description.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <type_traits>
#include <string_view>
#include <utility>

#include "Services/runtime/Preprocessor.h"

namespace kx {

template <class E, std::size_t N>
struct RawEnumDescription {
    std::string_view name; // the enumeration's own name, without namespace, for error texts
    std::array<std::pair<E, std::string_view>, N> cases;
};

template <class E, std::size_t N>
constexpr RawEnumDescription<E, N> makeRawEnumDescription(std::string_view name,
                                                          std::array<std::pair<E, std::string_view>, N> cases)
{
    return {name, cases};
}

template <class E>
concept RawValueEnum = std::is_enum_v<E> && requires(E value) { describeRawEnum(value); };

template <RawValueEnum E>
constexpr auto rawEnumDescription()
{
    return describeRawEnum(E{});
}

template <RawValueEnum E>
constexpr std::string_view rawValue(E value)
{
    for (const auto& [item, raw] : rawEnumDescription<E>().cases) {
        if (item == value)
            return raw;
    }
    return {};
}

// The case whose raw value is exactly `raw` (letter case included), or nothing.
template <RawValueEnum E>
constexpr std::optional<E> enumFromRawValue(std::string_view raw)
{
    for (const auto& [item, text] : rawEnumDescription<E>().cases) {
        if (text == raw)
            return item;
    }
    return std::nullopt;
}

// Every case, in declaration order.
template <RawValueEnum E>
constexpr auto allCases()
{
    constexpr auto description = rawEnumDescription<E>();
    std::array<E, description.cases.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i)
        cases[i] = description.cases[i].first;
    return cases;
}

} // namespace kx

#define KX_RAW_ENUM_CASE_(Enum, name) std::pair<Enum, std::string_view>{Enum::name, #name}

// Describes an enumeration whose raw values are its case names. At namespace scope as it stands;
// inside a class, prefix it with `friend`.
#define KX_RAW_ENUM(Enum, ...)                                                                      \
    constexpr auto describeRawEnum(Enum)                                                            \
    {                                                                                               \
        return ::kx::makeRawEnumDescription<Enum>(                                                  \
            #Enum, std::array{KX_FOR_EACH(KX_RAW_ENUM_CASE_, Enum, __VA_ARGS__)});                  \
    }
