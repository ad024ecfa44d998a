// The one road of every value into a message body, and the shared decoder through which the
// wrappers and the router read bodies. Both are stateless, so one of each serves every thread.
#pragma once

#include "Services/runtime/JSONDecoder.h"
#include "Services/runtime/JSONEncoder.h"
#include "Services/runtime/Result.h"
#include "Services/runtime/ServiceChannel.h"

namespace kx::ServiceValueHelper {

const JSONDecoder& jsonDecoder();
const JSONEncoder& jsonEncoder();

// The value's JSON text as a body. Never fails: a value that cannot be encoded (a non-finite
// number, text that is not UTF-8) gives the body "undefined", which the page reads as no value.
template <ServiceValue T>
ServiceChannel::MessageBody toMessageBody(const T& value)
{
    try {
        return {jsonEncoder().encode(value)};
    } catch (const EncodingError&) {
        return {"undefined"};
    }
}

// Reads a body as T; the decoder's error is returned as it is.
template <ServiceValue T>
Result<T, DecodingError> decode(const ServiceChannel::MessageBody& body)
{
    try {
        return Result<T, DecodingError>::success(jsonDecoder().decode<T>(body.json));
    } catch (const DecodingError& error) {
        return Result<T, DecodingError>::failure(error);
    }
}

} // namespace kx::ServiceValueHelper
