#include "Platform/Foundation/Error.h"

#include <cstring>

#include <glib.h>

namespace kx {

Error::Error(std::string domain_, std::int64_t code_, std::string description, std::string failureReason,
             std::string recoverySuggestion)
    : domain(std::move(domain_))
    , code(code_)
    , localizedDescription(std::move(description))
    , localizedFailureReason(std::move(failureReason))
    , localizedRecoverySuggestion(std::move(recoverySuggestion))
{
}

Error Error::fromErrno(int errnum, const std::string& what)
{
    std::string reason = g_strerror(errnum);
    return Error(posixDomain, errnum, what.empty() ? reason : what + ": " + reason, reason);
}

Error Error::fromGError(const GError* error, const std::string& what)
{
    std::string message = error ? error->message : "unknown error";
    return Error(glibDomain, error ? error->code : 0, what.empty() ? message : what + ": " + message, message);
}

Error Error::fromException(std::exception_ptr exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const Error& error) {
        return error;
    } catch (const std::exception& error) {
        return Error(cocoaDomain, 256, error.what());
    } catch (...) {
        return Error(cocoaDomain, 256, "An unknown error occurred.");
    }
}

std::string Error::informativeText() const
{
    return localizedRecoverySuggestion.empty() ? localizedFailureReason : localizedRecoverySuggestion;
}

} // namespace kx
