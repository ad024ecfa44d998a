// One value of a JSONTape, as the typed decoder reads it: its kind, its scalar, its string
// (copied out only when asked), its members and elements. A plain view: the tape and its text
// must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Services/runtime/JSONTape.h"

namespace kx {

class JSONValue {
public:
    using Kind = JSONTape::Kind;

    JSONValue(const JSONTape& tape, std::size_t index)
        : tape_(&tape)
        , index_(index)
    {
    }

    Kind kind() const { return entry().kind; }
    bool isNull() const { return kind() == Kind::null; }
    bool isBoolean() const { return kind() == Kind::boolean; }
    bool isString() const { return kind() == Kind::string; }
    bool isObject() const { return kind() == Kind::object; }
    bool isArray() const { return kind() == Kind::array; }

    bool boolean() const { return entry().flag; }
    std::int64_t integer() const { return static_cast<std::int64_t>(entry().payload); }
    std::uint64_t unsignedInteger() const { return entry().payload; }
    double floating() const;

    // A string's text, escapes resolved.
    std::string string() const;
    // True for a string whose text is exactly `text`.
    bool equals(std::string_view text) const;

    // A container's number of elements or members.
    std::size_t size() const { return entry().size; }

    // An object's member of that name; of several, the last, as a parser that keeps one would.
    std::optional<JSONValue> find(std::string_view name) const;

    // Calls f(JSONValue element) for each element of an array, in order.
    template <class F>
    void forEachElement(F&& f) const
    {
        const std::size_t end = tape_->next(index_);
        for (std::size_t i = index_ + 1; i < end; i = tape_->next(i))
            f(JSONValue(*tape_, i));
    }

    // Calls f(JSONValue name, JSONValue value) for each member of an object, in text order.
    template <class F>
    void forEachMember(F&& f) const
    {
        const std::size_t end = tape_->next(index_);
        for (std::size_t i = index_ + 1; i < end; i = tape_->next(i + 1))
            f(JSONValue(*tape_, i), JSONValue(*tape_, i + 1));
    }

    // The value as a document; of repeated member names the last one is kept.
    nlohmann::json toDocument() const;

    // How a found value is named in type-mismatch texts.
    std::string_view describeKind() const;

private:
    const JSONTape::Entry& entry() const { return (*tape_)[index_]; }

    const JSONTape* tape_;
    std::size_t index_;
};

} // namespace kx
