// Testing types that combine every kind of generated value: a record, a string enumeration, and a
// tagged union (tag key "foo") whose array case holds records of the same type again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::ZzzTestingTypes {

enum class ObjectStringEnum { a, b, c };
KX_RAW_ENUM(ObjectStringEnum, a, b, c)

struct Object;

struct ObjectEnum {
    enum class FooEnum { string, integer, array };
    friend KX_RAW_ENUM(FooEnum, string, integer, array)

    struct Value_string {
        std::string bar;
        KX_CASE(Value_string, "string", bar)
    };
    struct Value_integer {
        std::int64_t count;
        KX_CASE(Value_integer, "integer", count)
    };
    struct Value_array {
        std::vector<Object> objects;
        KX_CASE(Value_array, "array", objects)
    };

    static constexpr std::string_view tagKey = "foo";
    std::variant<Value_string, Value_integer, Value_array> value;
};

struct Object {
    std::string name;
    ObjectStringEnum stringEnum = ObjectStringEnum::a;
    std::optional<ObjectEnum> objectEnum;
    KX_RECORD(Object, name, stringEnum, objectEnum)
};

// echo answers the object it was given.
// Served and called by the pages; nothing native registers or calls it.
#define KX_ZzzTestingTypes_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                 \
    WITH_ARGUMENT(echo, Object, Object)

KX_SERVICE_INTERFACE(KX_ZzzTestingTypes_METHODS)

} // namespace kx::ZzzTestingTypes
