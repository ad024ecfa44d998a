#include "Services/runtime/JSONValue.h"

#include <cstring>

namespace kx {

double JSONValue::floating() const
{
    double value = 0;
    std::memcpy(&value, &entry().payload, sizeof value);
    return value;
}

std::string JSONValue::string() const
{
    std::string text;
    tape_->appendString(entry(), text);
    return text;
}

bool JSONValue::equals(std::string_view text) const
{
    const JSONTape::Entry& e = entry();
    if (e.kind != Kind::string)
        return false;
    if (!e.flag)
        return tape_->raw(e) == text;
    // Escapes only make text shorter or keep its length.
    if (e.size < text.size())
        return false;
    return string() == text;
}

std::optional<JSONValue> JSONValue::find(std::string_view name) const
{
    std::optional<JSONValue> found;
    forEachMember([&](JSONValue key, JSONValue value) {
        if (key.equals(name))
            found = value;
    });
    return found;
}

nlohmann::json JSONValue::toDocument() const
{
    switch (kind()) {
    case Kind::null: return nullptr;
    case Kind::boolean: return boolean();
    case Kind::integer: return integer();
    case Kind::unsignedInteger: return unsignedInteger();
    case Kind::floating: return floating();
    case Kind::string: return string();
    case Kind::array: {
        nlohmann::json array = nlohmann::json::array();
        auto& elements = array.get_ref<nlohmann::json::array_t&>();
        elements.reserve(size());
        forEachElement([&](JSONValue element) { elements.push_back(element.toDocument()); });
        return array;
    }
    case Kind::object: {
        nlohmann::json object = nlohmann::json::object();
        auto& members = object.get_ref<nlohmann::json::object_t&>();
        forEachMember([&](JSONValue key, JSONValue value) { members.insert_or_assign(key.string(), value.toDocument()); });
        return object;
    }
    }
    return nullptr;
}

std::string_view JSONValue::describeKind() const
{
    switch (kind()) {
    case Kind::null: return "null";
    case Kind::boolean: return "bool";
    case Kind::integer:
    case Kind::unsignedInteger:
    case Kind::floating: return "number";
    case Kind::string: return "a string";
    case Kind::array: return "an array";
    case Kind::object: return "a dictionary";
    }
    return "an unsupported value";
}

} // namespace kx
