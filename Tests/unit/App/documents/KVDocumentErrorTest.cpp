#include <gtest/gtest.h>

#include <cerrno>

#include "App/documents/KVDocumentError.h"

using namespace kx;

namespace {

TEST(KVDocumentErrorTest, CodesTextsAndRecovery)
{
    for (long long raw : {-1LL, 14LL, 1000LL})
        EXPECT_FALSE(KVDocumentError::fromRawValue(raw));
    auto first = KVDocumentError::fromRawValue(0);
    auto second = KVDocumentError::fromRawValue(1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->failureReason(), second->failureReason());
    EXPECT_FALSE(*first == *second);

    KVDocumentError tooNew(KVDocumentError::Code::documentVersionTooNew);
    EXPECT_EQ(tooNew.error().domain, "KVDocumentErrorDomain");
    EXPECT_EQ(tooNew.error().code, 13);
    EXPECT_EQ(tooNew.error().localizedFailureReason, "The document was written by a later version of Korvel.");
    EXPECT_EQ(tooNew.recoveryOptions(), (std::vector<std::string>{"Check for Updates", "OK"}));
    EXPECT_TRUE(KVDocumentError(KVDocumentError::Code::notLoggedIn).recoveryOptions().empty());

    const auto& cancelled = KVDocumentError::cancellableAutosaveCancelled();
    EXPECT_EQ(cancelled.domain, "NSCocoaErrorDomain");
    EXPECT_EQ(cancelled.code, 3072);
    EXPECT_EQ(&cancelled, &KVDocumentError::cancellableAutosaveCancelled());
}

TEST(KVDocumentErrorTest, AnUnderlyingCauseIsWhatTheUserReads)
{
    KVDocumentError error(KVDocumentError::Code::containerHasUnwrittenChanges,
                          kx::Error::fromErrno(ENOSPC, "Cannot write design/document.json"));
    EXPECT_EQ(error.error().localizedDescription, "Cannot write design/document.json: No space left on device");
    // Not "more changes were made while saving": the changes could not be written at all.
    EXPECT_EQ(error.error().localizedFailureReason, "The latest changes could not be written into the project, so it was not saved.");
    EXPECT_EQ(error.error().code, 2);
    EXPECT_STREQ(error.what(), "Cannot write design/document.json: No space left on device");
}

TEST(KVDocumentErrorTest, TheAdviceNamesTheCauseThatKeptTheChangesFromTheDisk)
{
    const auto advice = [](const kx::Error& cause) {
        return KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges, cause).error().informativeText();
    };
    // Each cause its own remedy, and none of another's.
    const std::vector<std::pair<std::vector<int>, std::string>> causes = {
        {{ENOENT, ENOTDIR}, "moved, renamed or deleted"}, {{ENOSPC, EDQUOT}, "free some space"}, {{EACCES, EPERM, EROFS}, "rights"}};
    for (const auto& [codes, remedy] : causes)
        for (int code : codes) {
            const std::string text = advice(kx::Error::fromErrno(code, "Cannot open /home/u/Before"));
            for (const auto& [others, other] : causes)
                EXPECT_EQ(text.find(other) != std::string::npos, other == remedy) << code << ": " << text;
        }
    // Any other failure is not guessed at; a cause's own advice stands.
    for (const auto& [others, other] : causes)
        EXPECT_EQ(advice(kx::Error::fromErrno(EIO, "Cannot write")).find(other), std::string::npos);
    EXPECT_EQ(advice(kx::Error("Page", 6, "The editor did not answer.", "", "Try again.")), "Try again.");
}

} // namespace
