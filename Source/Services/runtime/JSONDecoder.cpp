#include "Services/runtime/JSONDecoder.h"

#include "Services/runtime/JSONScanner.h"

namespace kx {

nlohmann::json JSONDecoder::parse(std::string_view text)
{
    nlohmann::json document;
    JSONScanner scanner(text);
    if (scanner.parseDocument(document, maximumDepth))
        return document;
    if (scanner.tooDeep())
        throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON: nested too deeply.");
    throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON.");
}

} // namespace kx
