#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

using R = kx::Result<int, kx::Error>;

TEST(Result, MapTransformsSuccessAndPassesFailureThroughUntouched)
{
    EXPECT_EQ(R::success(2).map([](int v) { return std::to_string(v * 2); }).value(), "4");

    bool called = false;
    const kx::Error error("D", 7, "broken");
    auto mapped = R::failure(error).map([&](int) {
        called = true;
        return 0.5;
    });
    EXPECT_FALSE(called);
    ASSERT_TRUE(mapped.isFailure());
    EXPECT_EQ(mapped.error(), error);
}

TEST(Result, GetThrowsTheCarriedErrorItself)
{
    EXPECT_EQ(R::success(3).get(), 3);
    try {
        R::failure(kx::Error("D", 9, "gone")).get();
        FAIL() << "get of a failure must throw";
    } catch (const kx::Error& thrown) {
        EXPECT_EQ(thrown.code, 9);
    }
    using Optional = kx::Result<std::optional<std::string>, kx::Error>;
    EXPECT_FALSE(Optional::success(std::nullopt).get().has_value());
}
