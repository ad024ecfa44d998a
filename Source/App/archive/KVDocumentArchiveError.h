// The failures of project archives. Thrown by every throwing operation of the archive, its
// backings and the zip reader and writer; `error()` is what an alert shows.
#pragma once

#include <exception>
#include <string>

#include "Platform/Foundation/Error.h"

namespace kx {

class KVDocumentArchiveError : public std::exception {
public:
    enum class Code { unsupportedBacking = 0, unknown = 1, notFound = 2, invalidBacking = 3 };
    static constexpr const char* domain = "KVDocumentArchiveError";

    // No backing serves the type identifier (the value).
    static KVDocumentArchiveError unsupportedBacking(std::string typeIdentifier);
    // Any other failure: reading, writing, a damaged manifest. The value is the underlying error.
    static KVDocumentArchiveError unknown(Error underlying);
    // The package, or the file at a relative path, does not exist.
    static KVDocumentArchiveError notFound(const std::string& path);
    // The package exists but cannot serve: not a folder or zip file, damaged, or refused as unsafe.
    static KVDocumentArchiveError invalidBacking(const std::string& path, const std::string& reason);

    // A save whose new version is in place but that could not confirm it reached the disk (the
    // final flush failed): `unknown`, with texts that say so, and newVersionInPlace() true.
    static KVDocumentArchiveError savedButNotFlushed(const std::string& path, Error underlying);
    // Throws `unknown` with the error of a failed system call (errno `errnum`) about `what`.
    [[noreturn]] static void throwErrno(int errnum, const std::string& what);

    Code code() const { return code_; }
    // True when the failed save did replace the package (see savedButNotFlushed).
    bool newVersionInPlace() const { return newVersionInPlace_; }
    // The type identifier of `unsupportedBacking`, the path of `notFound` and `invalidBacking`.
    const std::string& value() const { return value_; }
    // Domain KVDocumentArchiveError with the code above; for `unknown` the texts of the underlying error.
    const Error& error() const { return error_; }
    // For `unknown`, the error it wraps; otherwise the same as `error()`.
    const Error& underlying() const { return underlying_; }

    const char* what() const noexcept override { return error_.localizedDescription.c_str(); }

private:
    KVDocumentArchiveError(Code code, std::string value, Error error, Error underlying);
    Code code_;
    std::string value_;
    Error error_;
    Error underlying_;
    bool newVersionInPlace_ = false;
};

} // namespace kx
