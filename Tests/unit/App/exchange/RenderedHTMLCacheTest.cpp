#include <gtest/gtest.h>

#include <thread>

#include "App/exchange/RenderedHTMLCache.h"

namespace {

using kx::RenderedHTMLCache;

RenderedHTMLCache::Data bytes(const std::string& text)
{
    return std::make_shared<const std::string>(text);
}

TEST(RenderedHTMLCache, KeepsAtMostItsLimitAndPushesOutTheLeastRecentlyUsed)
{
    RenderedHTMLCache cache(100);
    EXPECT_EQ(cache.limit(), 100u);
    EXPECT_EQ(RenderedHTMLCache().limit(), RenderedHTMLCache::defaultLimit);
    for (int i = 0; i < 100; ++i)
        cache.setObject(bytes("render " + std::to_string(i)), "key " + std::to_string(i));
    EXPECT_EQ(cache.count(), 100u);
    ASSERT_NE(cache.object("key 0"), nullptr); // used: now the most recent
    cache.setObject(bytes("render 100"), "key 100");
    EXPECT_EQ(cache.count(), 100u);
    EXPECT_NE(cache.object("key 0"), nullptr);
    EXPECT_EQ(cache.object("key 1"), nullptr);
    EXPECT_EQ(*cache.object("key 100"), "render 100");

    cache.setObject(bytes("again"), "key 0"); // a replacement pushes nothing out
    EXPECT_EQ(cache.count(), 100u);
    EXPECT_EQ(*cache.object("key 0"), "again");
    cache.setObject(nullptr, "key 0");
    EXPECT_EQ(cache.object("key 0"), nullptr);
    EXPECT_EQ(cache.count(), 99u);
    cache.clear();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.object("key 100"), nullptr);

    RenderedHTMLCache none(0);
    none.setObject(bytes("x"), "x");
    EXPECT_EQ(none.count(), 0u);
}

TEST(RenderedHTMLCache, WorkersMayFillItAtOnce)
{
    RenderedHTMLCache cache(50);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&cache, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string key = std::to_string((i * 7 + t) % 120);
                cache.setObject(bytes(key), key);
                if (auto found = cache.object(key)) {
                    EXPECT_EQ(*found, key);
                }
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_LE(cache.count(), 50u);
}

} // namespace
