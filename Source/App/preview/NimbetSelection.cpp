#include "App/preview/NimbetSelection.h"
#include "Services/runtime/JSONDecoder.h"

namespace kx {

Result<NimbetSelection, std::string> NimbetSelection::decode(std::string_view text)
{
    try {
        return Result<NimbetSelection, std::string>::success(JSONDecoder().decode<NimbetSelection>(text));
    } catch (const DecodingError& error) {
        return Result<NimbetSelection, std::string>::failure(error.what());
    }
}

} // namespace kx
