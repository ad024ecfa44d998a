// The service layer's JSON decoder: parses one JSON text and reads the expected value from it
// by the codec's strict rules. Text that is not JSON, or nests deeper than maximumDepth, is
// corrupted data; nothing partial is ever returned.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "Services/runtime/JSONCoding.h"

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
        const nlohmann::json document = parse(text);
        return JSONCoding<T>::decode(document, nullptr);
    }

    // Throws DecodingError (dataCorrupted) for text that is not one JSON value.
    static nlohmann::json parse(std::string_view text);
};

} // namespace kx
