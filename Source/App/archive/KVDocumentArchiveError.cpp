#include "App/archive/KVDocumentArchiveError.h"

#include <filesystem>

#include "App/archive/KVArchivePath.h"

namespace kx {

namespace {

std::string displayName(const std::string& path)
{
    auto name = std::filesystem::path(path).filename().string();
    return KVArchivePath::displayName(name.empty() ? path : name);
}

} // namespace

KVDocumentArchiveError::KVDocumentArchiveError(Code code, std::string value, Error error, Error underlying)
    : code_(code)
    , value_(std::move(value))
    , error_(std::move(error))
    , underlying_(std::move(underlying))
{
}

KVDocumentArchiveError KVDocumentArchiveError::unsupportedBacking(std::string typeIdentifier)
{
    Error error(domain, static_cast<int>(Code::unsupportedBacking),
                "Documents of the type “" + typeIdentifier + "” can’t be opened as a project.");
    return {Code::unsupportedBacking, std::move(typeIdentifier), error, error};
}

KVDocumentArchiveError KVDocumentArchiveError::unknown(Error underlying)
{
    Error error(domain, static_cast<int>(Code::unknown), underlying.localizedDescription,
                underlying.localizedFailureReason, underlying.localizedRecoverySuggestion);
    return {Code::unknown, {}, std::move(error), std::move(underlying)};
}

KVDocumentArchiveError KVDocumentArchiveError::notFound(const std::string& path)
{
    Error error(domain, static_cast<int>(Code::notFound),
                "The file “" + displayName(path) + "” couldn’t be opened because there is no such file.");
    return {Code::notFound, path, error, error};
}

KVDocumentArchiveError KVDocumentArchiveError::invalidBacking(const std::string& path, const std::string& reason)
{
    Error error(domain, static_cast<int>(Code::invalidBacking),
                "The project “" + displayName(path) + "” can’t be opened because it is damaged or not a project.",
                reason);
    return {Code::invalidBacking, path, error, error};
}

KVDocumentArchiveError KVDocumentArchiveError::savedButNotFlushed(const std::string& path, Error underlying)
{
    Error error(domain, static_cast<int>(Code::unknown),
                "The project “" + displayName(path) + "” was saved, but the system could not confirm that it is safely on disk.",
                underlying.localizedDescription,
                "The new version is in place. If the computer loses power before the disk is written, it may be lost; "
                "check the disk and save again.");
    KVDocumentArchiveError result{Code::unknown, {}, std::move(error), std::move(underlying)};
    result.newVersionInPlace_ = true;
    return result;
}

void KVDocumentArchiveError::throwErrno(int errnum, const std::string& what)
{
    throw unknown(Error::fromErrno(errnum, what));
}

} // namespace kx
