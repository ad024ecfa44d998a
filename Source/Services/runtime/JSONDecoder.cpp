#include "Services/runtime/JSONDecoder.h"

namespace kx {

nlohmann::json JSONDecoder::parse(std::string_view text)
{
    // The callback sees every event with its depth; values beyond the limit are dropped as they
    // are read, so no deep tree is ever built, and the whole text is then refused.
    bool tooDeep = false;
    const nlohmann::json::parser_callback_t limit = [&tooDeep](int depth, nlohmann::json::parse_event_t,
                                                               nlohmann::json&) {
        if (depth > maximumDepth) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    nlohmann::json document = nlohmann::json::parse(text.begin(), text.end(), limit, false);
    if (tooDeep)
        throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON: nested too deeply.");
    if (document.is_discarded())
        throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON.");
    return document;
}

} // namespace kx
