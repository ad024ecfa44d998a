#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

TEST(ThreadPool, ForEachIndexCallsEveryIndexOnceAndEndsWithTheFirstFailure)
{
    kx::ThreadPool pool(4);
    std::vector<std::atomic<int>> calls(2000);
    pool.forEachIndex(calls.size(), [&](std::size_t index) { ++calls[index]; });
    for (const auto& count : calls)
        ASSERT_EQ(count.load(), 1);

    // A failure stops the handing out of indices; when the call returns, nothing runs any more.
    // The indices after the failing one wait until it has failed (a second at most), so that
    // on a busy machine the others cannot all have started before it.
    std::atomic<int> running{0}, started{0};
    std::atomic<bool> failed{false};
    try {
        pool.forEachIndex(10'000, [&](std::size_t index) {
            ++running;
            ++started;
            if (index == 50) {
                --running;
                failed = true;
                throw std::runtime_error("index 50");
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (index > 50 && !failed && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            // Between the failure and the pool hearing of it the failing thread may be off the
            // processor; the later indices take a while, so that they cannot all run meanwhile.
            if (index > 50)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            --running;
        });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "index 50");
    }
    EXPECT_EQ(running.load(), 0);
    const int after = started.load();
    EXPECT_LT(after, 10'000);
    pool.waitUntilIdle();
    EXPECT_EQ(started.load(), after);
}

TEST(ThreadPool, ForEachIndexOnABusyPoolRunsOnTheCallersThread)
{
    // Called from the pool's only thread: the caller does the work, nothing waits for a thread.
    kx::ThreadPool pool(1);
    std::atomic<int> sum{0};
    pool.async([&] { pool.forEachIndex(100, [&](std::size_t index) { sum += static_cast<int>(index); }); });
    pool.waitUntilIdle();
    EXPECT_EQ(sum.load(), 4950);
}

TEST(ThreadPool, AStoppedBatchHandsOutNoFurtherIndex)
{
    kx::ThreadPool pool(2);
    std::atomic<int> running{0};
    std::atomic<long> started{0};
    const long count = 100'000'000;
    kx::ThreadPool::Batch batch(pool, count, [&](std::size_t) {
        ++running;
        ++started;
        --running;
    });
    batch.stop();
    // The calls that ran have returned and no other starts.
    EXPECT_EQ(running.load(), 0);
    const long after = started.load();
    EXPECT_LT(after, count);
    pool.waitUntilIdle();
    EXPECT_EQ(started.load(), after);
}

TEST(ThreadPool, WorkersGiveWayToTheThreadThatMadeThem)
{
    const auto niceness = [] { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); };
    const int mine = niceness();
    std::atomic<int> workers{-100};
    {
        kx::ThreadPool pool(1, "kx-test-nice");
        pool.async([&] { workers = niceness(); });
    }
    if (mine >= 19)
        GTEST_SKIP() << "this test runs at the lowest priority already";
    EXPECT_GT(workers.load(), mine);
}
