// The service layer's JSON encoder: compact text, members in declared order, nothing sorted.
#pragma once

#include <string>

#include "Services/runtime/JSONCoding.h"

namespace kx {

class JSONEncoder {
public:
    // The JSON text of a value; throws EncodingError (a non-finite number, text that is not UTF-8).
    template <ServiceValue T>
    std::string encode(const T& value) const
    {
        JSONWriter writer;
        JSONCoding<T>::encode(writer, value, nullptr);
        return writer.take();
    }
};

} // namespace kx
