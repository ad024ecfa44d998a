#include "App/documents/KVDocumentError.h"

#include <array>
#include <cerrno>

namespace kx {

namespace {

constexpr std::array<const char*, 14> reasons = {
    "Close other documents and try again.",
    "Close other documents and try again.",
    "More changes were made while saving.",
    "The document must use the Korvel folder format.",
    "The document is already open in another Korvel X instance.",
    "The document uses the Korvel folder format.",
    "The document has no archive.",
    "The document moved unexpectedly.",
    "The document template couldn't be found.",
    "The format of the image is unsupported.",
    "Not implemented.",
    "Not logged in.",
    "The document could not be read.",
    "The document was written by a later version of Korvel.",
};

// What the user can do about changes that could not be written, by what kept them from the
// disk: a file or folder gone, a full disk, no rights, each its own remedy.
std::string adviceForUnwritten(const Error& cause)
{
    const std::string kept = "Your changes are still in the open document. ";
    if (cause.domain == Error::posixDomain) {
        switch (cause.code) {
        case ENOENT:
        case ENOTDIR:
        case ESTALE:
            return kept + "That file or folder is no longer there: it was moved, renamed or deleted. Put it back, or choose "
                          "Save As\u2026 to keep the document somewhere else.";
        case ENOSPC:
        case EDQUOT:
            return kept + "The disk is full: free some space on it, then save again.";
        case EACCES:
        case EPERM:
        case EROFS:
            return kept + "You have no right to write there, or the disk is read-only: get the rights, or choose Save As\u2026 "
                          "to keep the document somewhere else.";
        default:
            break;
        }
    }
    return kept + "Remove the cause, then save again.";
}

} // namespace

KVDocumentError::KVDocumentError(Code code, std::optional<Error> underlying)
    : code_(code)
    , underlying_(std::move(underlying))
{
    what_ = underlying_ ? underlying_->localizedDescription : failureReason();
}

std::optional<KVDocumentError> KVDocumentError::fromRawValue(long long rawValue)
{
    if (rawValue < 0 || rawValue >= static_cast<long long>(reasons.size()))
        return std::nullopt;
    return KVDocumentError(static_cast<Code>(rawValue));
}

std::string KVDocumentError::failureReason() const
{
    return reasons[static_cast<size_t>(code_)];
}

std::vector<std::string> KVDocumentError::recoveryOptions() const
{
    if (code_ == Code::documentVersionTooNew)
        return {"Check for Updates", "OK"};
    return {};
}

Error KVDocumentError::error() const
{
    if (!underlying_)
        return Error(errorDomain, errorCode(), failureReason(), failureReason());
    // The cause is what the user can act on (a full disk, a folder gone); this case says what it did.
    if (code_ == Code::containerHasUnwrittenChanges) {
        // Not "more changes were made": the latest ones could not be written at all.
        return Error(errorDomain, errorCode(), underlying_->localizedDescription,
                     "The latest changes could not be written into the project, so it was not saved.",
                     !underlying_->localizedRecoverySuggestion.empty() ? underlying_->localizedRecoverySuggestion
                                                                        : adviceForUnwritten(*underlying_));
    }
    return Error(errorDomain, errorCode(), underlying_->localizedDescription, failureReason(),
                 underlying_->localizedRecoverySuggestion);
}

const Error& KVDocumentError::cancellableAutosaveCancelled()
{
    static const Error error("NSCocoaErrorDomain", 3072, "");
    return error;
}

} // namespace kx
