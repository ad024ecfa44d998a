// The service layer's JSON decoder: reads one JSON text into a tape in one pass and the
// expected value from the tape by the codec's strict rules, each string copied once, straight
// into the value. Text that is not JSON, or nests deeper than maximumDepth, is corrupted data
// (before any other failure); nothing partial is ever returned.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "Services/runtime/JSONCoding.h"
#include "Services/runtime/JSONTape.h"
#include "Services/runtime/JSONValue.h"

namespace kx {

class JSONDecoder {
public:
    // Deep enough for any design a page sends; shallow enough that the recursive readers and
    // writers stay far from the end of the stack.
    static constexpr int maximumDepth = 512;

    // Throws DecodingError.
    template <ServiceValue T>
    T decode(std::string_view text) const
    {
        JSONTape tape;
        read(text, tape);
        return json_detail::decodeValue<T>(JSONValue(tape, 0), nullptr);
    }

    // Throws DecodingError (dataCorrupted) for text that is not one JSON value.
    static nlohmann::json parse(std::string_view text);
    // The tape of one JSON text; throws DecodingError (dataCorrupted) when it is not one.
    static void read(std::string_view text, JSONTape& tape);
};

} // namespace kx
