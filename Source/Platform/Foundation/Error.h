// The error of the platform layer and of the application's areas: a domain, a code and the
// texts that the user sees in an alert.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

struct _GError;

namespace kx {

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;        // the alert's message text
    std::string localizedFailureReason;      // optional detail
    std::string localizedRecoverySuggestion; // optional advice, the alert's informative text

    Error() = default;
    Error(std::string domain, std::int64_t code, std::string description, std::string failureReason = {},
          std::string recoverySuggestion = {});

    // The domain for failures of system calls and GLib: code is errno or the GError code.
    static constexpr const char* posixDomain = "NSPOSIXErrorDomain";
    static constexpr const char* glibDomain = "GLibErrorDomain";
    // The domain of the platform's own failures (a document that cannot be read or made).
    static constexpr const char* cocoaDomain = "NSCocoaErrorDomain";

    // An error from errno (the value of errno when called) with a message naming what failed.
    static Error fromErrno(int errnum, const std::string& what);
    // An error from a GError; takes no ownership. A null error gives an "unknown error".
    static Error fromGError(const _GError* error, const std::string& what = {});
    // The error of a caught exception: an Error as it was thrown; any other exception as code
    // 256 of the Cocoa domain with its message, "An unknown error occurred." when it has none
    // (not a std::exception).
    static Error fromException(std::exception_ptr exception);

    // The informative text of an alert: the recovery suggestion, else the failure reason.
    std::string informativeText() const;

    friend bool operator==(const Error&, const Error&) = default;
};

} // namespace kx
