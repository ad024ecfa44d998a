// The one error of the service runtime, on both sides of a channel. Its JSON form is
// {"code": <HTTP status of like meaning>} plus "message" for an implementation failure that
// has one. Reading an error body never fails: anything unreadable is badResponse.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Services/runtime/JSONCoding.h"

namespace kx {

class ServiceError {
public:
    enum class Case { implementation, serviceNotFound, serviceRequiresUpgrade, serviceGone, timedOut, badRequest, badResponse };

    static ServiceError implementation(std::optional<std::string> message = std::nullopt)
    {
        return ServiceError(Case::implementation, std::move(message));
    }
    static ServiceError serviceNotFound() { return ServiceError(Case::serviceNotFound); }
    static ServiceError serviceRequiresUpgrade() { return ServiceError(Case::serviceRequiresUpgrade); }
    static ServiceError serviceGone() { return ServiceError(Case::serviceGone); }
    static ServiceError timedOut() { return ServiceError(Case::timedOut); }
    static ServiceError badRequest() { return ServiceError(Case::badRequest); }
    static ServiceError badResponse() { return ServiceError(Case::badResponse); }

    Case kind() const { return case_; }
    // Only an implementation failure carries a message.
    const std::optional<std::string>& message() const { return message_; }
    std::int64_t code() const;
    // The case for a wire code, or nothing for a code that is none of the seven.
    static std::optional<Case> caseForCode(std::int64_t code);

    friend bool operator==(const ServiceError&, const ServiceError&) = default;

private:
    explicit ServiceError(Case c, std::optional<std::string> message = std::nullopt)
        : case_(c)
        , message_(std::move(message))
    {
    }
    Case case_;
    std::optional<std::string> message_;
};

template <>
struct JSONCoding<ServiceError> {
    static void encode(JSONWriter& writer, const ServiceError& error, const CodingPathNode* path);
    // Never throws: a body that is not {"code": <one of the seven>} reads as badResponse.
    static ServiceError decode(JSONValue json, const CodingPathNode* path);
};

} // namespace kx
