#include "Services/runtime/ServiceValueHelper.h"

namespace kx::ServiceValueHelper {

const JSONDecoder& jsonDecoder()
{
    static const JSONDecoder decoder;
    return decoder;
}

const JSONEncoder& jsonEncoder()
{
    static const JSONEncoder encoder;
    return encoder;
}

} // namespace kx::ServiceValueHelper
