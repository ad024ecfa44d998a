#include "App/preview/DeviceCatalogue.h"
#include "Services/runtime/JSONDecoder.h"

namespace kx {

Result<DevicesData, Error> DevicesData::decode(std::string_view text)
{
    try {
        return Result<DevicesData, Error>::success(JSONDecoder().decode<DevicesData>(text));
    } catch (const DecodingError& error) {
        // The description names the path to the problem and what was expected there.
        return Result<DevicesData, Error>::failure(Error(error.domain(), error.code(), error.what()));
    }
}

} // namespace kx
