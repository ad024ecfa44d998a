#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "Platform/Foundation/ThreadPool.h"

TEST(ThreadPool, RunsEverythingAndASingleThreadKeepsOrder)
{
    std::atomic<int> count{0};
    {
        kx::ThreadPool pool(4);
        for (int i = 0; i < 1000; ++i)
            pool.async([&] { ++count; });
        pool.waitUntilIdle();
        EXPECT_EQ(count.load(), 1000);
        for (int i = 0; i < 100; ++i)
            pool.async([&] { ++count; });
    } // the destructor finishes submitted work
    EXPECT_EQ(count.load(), 1100);

    std::vector<int> order;
    kx::ThreadPool serial(1);
    for (int i = 0; i < 50; ++i)
        serial.async([&, i] { order.push_back(i); });
    serial.waitUntilIdle();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}
