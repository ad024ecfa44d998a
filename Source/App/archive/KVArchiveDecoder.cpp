#include "App/archive/KVArchiveDecoder.h"

#include "Services/runtime/JSONScanner.h"

namespace kx {

nlohmann::json KVArchiveDecoder::parse(std::string_view text) const
{
    nlohmann::json value;
    JSONScanner scanner(text);
    if (!scanner.parseDocument(value, maximumDepth))
        throw corrupt(scanner.tooDeep() ? "The data is nested too deeply." : "The data isn’t valid JSON.");
    return value;
}

DateFormat::Clock::time_point KVArchiveDecoder::date(const nlohmann::json& value) const
{
    if (!value.is_string())
        throw corrupt("Expected a date string.");
    auto time = DateFormat::parseIso8601(value.get_ref<const std::string&>());
    if (!time)
        throw corrupt("The date “" + value.get<std::string>() + "” isn’t in the expected format.");
    return *time;
}

KVDocumentArchiveError KVArchiveDecoder::corrupt(const std::string& reason)
{
    // The domain and code under which the original platform reports undecodable data.
    return KVDocumentArchiveError::unknown(
        Error("NSCocoaErrorDomain", 4864, "The data couldn’t be read because it isn’t in the correct format.", reason));
}

} // namespace kx
