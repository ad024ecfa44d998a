// The error of a caught exception, as documents and their controller report it.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Platform/Foundation/Error.h"

namespace {

template <typename Thrown>
kx::Error caught(Thrown thrown)
{
    try {
        throw thrown;
    } catch (...) {
        return kx::Error::fromException(std::current_exception());
    }
}

} // namespace

TEST(Error, FromExceptionKeepsAnErrorAndNamesAnyOtherFailure)
{
    const kx::Error thrown("KVDocumentErrorDomain", 12, "The document could not be read.", "reason", "advice");
    EXPECT_EQ(caught(thrown), thrown);

    const kx::Error message = caught(std::runtime_error("disk on fire"));
    EXPECT_EQ(message.domain, "NSCocoaErrorDomain");
    EXPECT_EQ(message.code, 256);
    EXPECT_EQ(message.localizedDescription, "disk on fire");

    const kx::Error unknown = caught(42);
    EXPECT_EQ(unknown.domain, "NSCocoaErrorDomain");
    EXPECT_EQ(unknown.code, 256);
    EXPECT_EQ(unknown.localizedDescription, "An unknown error occurred.");
}
