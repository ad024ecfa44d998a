#include "Services/runtime/ServiceError.h"

namespace kx {

namespace {

// The wire body, in the shape in which an error is read and written.
struct Body {
    std::int64_t code = 0;
    std::optional<std::string> message;
    KX_RECORD(Body, code, message)
};

} // namespace

std::int64_t ServiceError::code() const
{
    switch (case_) {
    case Case::implementation: return 500;
    case Case::serviceNotFound: return 404;
    case Case::serviceRequiresUpgrade: return 426;
    case Case::serviceGone: return 410;
    case Case::timedOut: return 504;
    case Case::badRequest: return 400;
    case Case::badResponse: return 422;
    }
    return 500;
}

std::optional<ServiceError::Case> ServiceError::caseForCode(std::int64_t code)
{
    switch (code) {
    case 404: return Case::serviceNotFound;
    case 426: return Case::serviceRequiresUpgrade;
    case 410: return Case::serviceGone;
    case 500: return Case::implementation;
    case 504: return Case::timedOut;
    case 400: return Case::badRequest;
    case 422: return Case::badResponse;
    default: return std::nullopt;
    }
}

void JSONCoding<ServiceError>::encode(JSONWriter& writer, const ServiceError& error, const CodingPathNode* path)
{
    Body body{error.code(), std::nullopt};
    if (error.kind() == ServiceError::Case::implementation)
        body.message = error.message();
    JSONCoding<Body>::encode(writer, body, path);
}

ServiceError JSONCoding<ServiceError>::decode(JSONValue json, const CodingPathNode* path)
{
    Body body;
    try {
        body = JSONCoding<Body>::decode(json, path);
    } catch (const DecodingError&) {
        return ServiceError::badResponse();
    }
    const auto kind = ServiceError::caseForCode(body.code);
    if (!kind)
        return ServiceError::badResponse();
    switch (*kind) {
    case ServiceError::Case::implementation: return ServiceError::implementation(std::move(body.message));
    case ServiceError::Case::serviceNotFound: return ServiceError::serviceNotFound();
    case ServiceError::Case::serviceRequiresUpgrade: return ServiceError::serviceRequiresUpgrade();
    case ServiceError::Case::serviceGone: return ServiceError::serviceGone();
    case ServiceError::Case::timedOut: return ServiceError::timedOut();
    case ServiceError::Case::badRequest: return ServiceError::badRequest();
    case ServiceError::Case::badResponse: break;
    }
    return ServiceError::badResponse();
}

} // namespace kx
