#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Platform/Foundation/MainQueue.h"
#include "support/Spin.h"

using namespace std::chrono_literals;
using kx::MainQueue;

TEST(MainQueue, WorkFromOtherThreadsRunsOnTheMainThreadInOrder)
{
    EXPECT_TRUE(MainQueue::isMainThread());
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread worker([&] {
        EXPECT_FALSE(MainQueue::isMainThread());
        for (int i = 0; i < 100; ++i)
            MainQueue::async([&, i] {
                if (!MainQueue::isMainThread())
                    allOnMain = false;
                order.push_back(i);
            });
    });
    worker.join();
    ASSERT_TRUE(kxtest::spinUntil([&] { return order.size() == 100; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(MainQueue, TimersFireAndCancel)
{
    int once = 0;
    int cancelledOnce = 0;
    int ticks = 0;
    auto timer = MainQueue::after(10ms, [&] { ++once; });
    auto cancelled = MainQueue::after(10ms, [&] { ++cancelledOnce; });
    cancelled->cancel();
    cancelled->cancel(); // idempotent
    std::shared_ptr<MainQueue::Timer> repeating;
    repeating = MainQueue::repeating(5ms, [&] {
        if (++ticks == 3)
            repeating->cancel(); // from inside its own callback
    });
    ASSERT_TRUE(kxtest::spinUntil([&] { return once == 1 && ticks == 3; }));
    kxtest::spinFor(30ms);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(cancelledOnce, 0);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(repeating->isCancelled());
}

TEST(MainQueue, DroppedTimerHandleStillFires)
{
    bool fired = false;
    MainQueue::after(5ms, [&] { fired = true; });
    EXPECT_TRUE(kxtest::spinUntil([&] { return fired; }));
}

TEST(MainQueueDeathTest, AnExceptionFromQueuedWorkIsLoggedBeforeTheProcessStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            MainQueue::async([] { throw std::runtime_error("the disk is on fire"); });
            kxtest::spinFor(2s);
        },
        "Fatal error: work on the main queue threw an exception: the disk is on fire");
    EXPECT_DEATH(
        {
            MainQueue::after(1ms, [] { throw 42; });
            kxtest::spinFor(2s);
        },
        "threw an exception of unknown type");
}
