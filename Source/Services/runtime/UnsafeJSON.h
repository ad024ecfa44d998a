// One untyped JSON object inside a typed service value (clipboard payloads, project tasks,
// package manifests). Members hold one of seven kinds: null, boolean, 64-bit integer, double,
// string, object, list. A number that is whole and fits 64 bits is read as an integer (2.0 reads
// as 2); every other number as a double. The top level is always an object.
#pragma once

#include <nlohmann/json.hpp>

#include "Services/runtime/JSONCoding.h"

namespace kx {

struct UnsafeJSON {
    // Member name to dynamic value; the values are documents of the seven kinds above.
    using Dictionary = nlohmann::json::object_t;
    Dictionary dictionary;

    friend bool operator==(const UnsafeJSON&, const UnsafeJSON&) = default;

    // The object reader and writer; each fails with "Invalid value" for a value of another kind
    // (an unsigned integer beyond 64 signed bits, binary data, a non-finite double).
    // The readers build the documents straight from the tape, each string copied once.
    static Dictionary decodeDictionary(JSONValue object, const CodingPathNode* path);
    static nlohmann::json::array_t decodeArray(JSONValue array, const CodingPathNode* path);
    static void encodeDictionary(JSONWriter& writer, const Dictionary& dictionary, const CodingPathNode* path);
    static void encodeArray(JSONWriter& writer, const nlohmann::json::array_t& array, const CodingPathNode* path);
};

template <>
struct JSONCoding<UnsafeJSON> {
    static void encode(JSONWriter& writer, const UnsafeJSON& value, const CodingPathNode* path)
    {
        UnsafeJSON::encodeDictionary(writer, value.dictionary, path);
    }
    static UnsafeJSON decode(JSONValue json, const CodingPathNode* path)
    {
        json_detail::requireObject(json, path);
        return UnsafeJSON{UnsafeJSON::decodeDictionary(json, path)};
    }
};

} // namespace kx
