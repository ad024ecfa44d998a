// A data source's flag and its change count, which keep an edit made during a save unsaved.
#include <gtest/gtest.h>

#include <thread>

#include "App/documents/KVDocumentContainerDataSource.h"
#include "Platform/Foundation/MainQueue.h"
#include "support/Spin.h"

using namespace kx;

namespace {

using Source = KVDocumentContainerDataSource;
using Result = kx::Result<std::string, kx::Error>;
using Provided = kx::Result<Source::SharedData, kx::Error>;

TEST(KVDocumentContainerDataSourceTest, AnswersCountOnceAndOnTheMainThread)
{
    Source::ProviderCompletion pending;
    auto source = std::make_shared<Source>([](const std::string&) {}, [&](Source::ProviderCompletion completion) { pending = completion; });
    int calls = 0;
    bool onMain = false;
    source->provide([&](Provided result, std::uint64_t) {
        ++calls;
        onMain = kx::MainQueue::isMainThread();
        EXPECT_EQ(*result.value(), "from a worker");
    });
    std::thread([&] {
        pending(Result::success("from a worker"));
        pending(Result::success("again"));
    }).join();
    ASSERT_TRUE(kxtest::spinUntil([&] { return calls > 0; }));
    kxtest::spinFor(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(source->data(), "from a worker");
}

TEST(KVDocumentContainerDataSourceTest, OnlyTheLatestRequestClearsTheFlag)
{
    auto source = std::make_shared<Source>([](const std::string&) {}, [](Source::ProviderCompletion completion) {
        completion(Result::success("x"));
    });
    int told = 0;
    auto token = source->observeDataNeedsToBeProvided([&](auto phase, bool, bool) { told += phase == kx::Observable<bool>::Phase::didChange; });
    std::uint64_t first = 0;
    source->provide([&](Provided, std::uint64_t generation) { first = generation; });
    // A report of a change that was already reported is still heard and still counts.
    source->setDataNeedsToBeProvided(true);
    EXPECT_EQ(told, 1);
    source->dataWasWritten(first);
    EXPECT_TRUE(source->dataNeedsToBeProvided());
    source->dataWasWritten(source->generation());
    EXPECT_FALSE(source->dataNeedsToBeProvided());
}

TEST(KVDocumentContainerDataSourceTest, AThrowingProviderIsAFailure)
{
    auto source = std::make_shared<Source>([](const std::string&) {}, [](Source::ProviderCompletion) -> void {
        throw kx::Error("Test", 1, "The page is gone.");
    });
    std::optional<Provided> answer;
    source->provide([&](Provided result, std::uint64_t) { answer = result; });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->error().localizedDescription, "The page is gone.");
    EXPECT_TRUE(source->dataNeedsToBeProvided());
}

} // namespace
