// The error of documents, their working containers and the document controller, domain
// "KVDocumentErrorDomain". Thrown as it is; error() is what an alert shows. A case may carry
// the failure underneath it (the full disk behind unwritten changes), whose texts it then shows.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"

namespace kx {

class KVDocumentError : public std::exception {
public:
    enum class Code {
        containerAlreadyExists = 0,
        containerAlreadyExistsForOtherOrigin = 1,
        containerHasUnwrittenChanges = 2,
        containerIsNotDirectory = 3,
        containerAlreadyInUse = 4,
        archiveIsContainer = 5,
        archiveIsNil = 6,
        archiveHasIncorrectFileURL = 7,
        templateIsNil = 8,
        unsupportedImageFormat = 9,
        notImplemented = 10,
        notLoggedIn = 11,
        unsupportedDocument = 12,
        documentVersionTooNew = 13,
    };
    static constexpr const char* errorDomain = "KVDocumentErrorDomain";

    explicit KVDocumentError(Code code, std::optional<Error> underlying = std::nullopt);
    // The case of a raw value, none outside 0 to 13.
    static std::optional<KVDocumentError> fromRawValue(long long rawValue);

    Code code() const { return code_; }
    int errorCode() const { return static_cast<int>(code_); }
    const std::optional<Error>& underlying() const { return underlying_; }

    // The case's own text, e.g. "More changes were made while saving.".
    std::string failureReason() const;
    // ["Check for Updates", "OK"] for documentVersionTooNew, else none.
    std::vector<std::string> recoveryOptions() const;
    // Domain, code and texts: the failure reason as the message, or the underlying failure's
    // message with this case's reason beside it.
    Error error() const;

    const char* what() const noexcept override { return what_.c_str(); }

    // Equal by case.
    friend bool operator==(const KVDocumentError& a, const KVDocumentError& b) { return a.code_ == b.code_; }

    // The user-cancelled error of declined autosaves, made once: the Cocoa domain's code 3072,
    // no texts.
    static const Error& cancellableAutosaveCancelled();

private:
    Code code_;
    std::optional<Error> underlying_;
    std::string what_;
};

} // namespace kx
