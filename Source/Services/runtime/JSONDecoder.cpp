#include "Services/runtime/JSONDecoder.h"

namespace kx {

void JSONDecoder::read(std::string_view text, JSONTape& tape)
{
    switch (tape.parse(text, maximumDepth)) {
    case JSONTape::Failure::none:
        return;
    case JSONTape::Failure::tooDeep:
        throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON: nested too deeply.");
    case JSONTape::Failure::syntax:
        break;
    }
    throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON.");
}

nlohmann::json JSONDecoder::parse(std::string_view text)
{
    JSONTape tape;
    read(text, tape);
    return JSONValue(tape, 0).toDocument();
}

} // namespace kx
