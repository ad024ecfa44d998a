// Descriptors of the generated value types. A record lists its fields once, by name, with
// KX_RECORD; the JSON key of a field is its name exactly. A tagged union is a struct holding a
// std::variant of its cases and its tag key; each case is a record with KX_CASE and its tag.
//
//   struct Point { double x = 0; double y = 0; KX_RECORD(Point, x, y) };
//   struct Item {
//       struct Value_text { std::string string; KX_CASE(Value_text, "text/plain", string) };
//       static constexpr std::string_view tagKey = "type";
//       std::variant<Value_text> value;
//   };
//
// A field of type std::optional<T> is optional (left out when absent, absent when missing or
// null); every other field is required. Case structs carry no default member initializers:
// some compilers cannot use them inside the enclosing union before it is complete, and the
// coder value-initialises every case it builds.
#pragma once

#include <string_view>
#include <tuple>

#include "Services/runtime/Preprocessor.h"

namespace kx {

template <class Owner, class Member>
struct Field {
    std::string_view name;
    Member Owner::*member;
};

template <class Owner, class Member>
constexpr Field<Owner, Member> makeField(std::string_view name, Member Owner::*member)
{
    return {name, member};
}

} // namespace kx

#define KX_FIELD_ENTRY_(Type, name) ::kx::makeField(#name, &Type::name)

#define KX_RECORD(Type, ...)                                                                        \
    static constexpr auto fields() { return std::tuple{KX_FOR_EACH(KX_FIELD_ENTRY_, Type, __VA_ARGS__)}; }

#define KX_CASE(Type, tagText, ...)                                                                 \
    static constexpr std::string_view tag = tagText;                                                \
    KX_RECORD(Type, __VA_ARGS__)
