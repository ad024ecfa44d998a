#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "support/Spin.h"

using kx::RunLoopWait;

TEST(RunLoopWait, PredicateIsFirstAskedAfterOnePassAndTimeoutEndsTheWait)
{
    bool asyncRan = false;
    kx::MainQueue::async([&] { asyncRan = true; });
    bool ranBeforeFirstQuestion = false;
    int questions = 0;
    int completions = 0;
    RunLoopWait::waitUsingRecursiveRunloop(
        [&] {
            if (questions++ == 0)
                ranBeforeFirstQuestion = asyncRan;
            return false;
        },
        10, [&] { ++completions; });
    EXPECT_TRUE(ranBeforeFirstQuestion);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(completions, 1);

    // A time-out of zero (or less) ends after one pass, whatever the predicate says.
    for (double timeout : {0.0, -1.0}) {
        int asked = 0;
        int done = 0;
        RunLoopWait::waitUsingRecursiveRunloop([&] { ++asked; return true; }, timeout, [&] { ++done; });
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(done, 1);
    }
    EXPECT_FALSE(RunLoopWait::isWaiting());
}

TEST(RunLoopWait, WaitsUntilTheConditionClears)
{
    bool answered = false;
    auto timer = kx::MainQueue::after(std::chrono::milliseconds(30), [&] { answered = true; });
    bool completedWithAnswer = false;
    RunLoopWait::waitUsingRecursiveRunloop([&] { return !answered; }, 5, [&] { completedWithAnswer = answered; });
    EXPECT_TRUE(completedWithAnswer);
}

TEST(RunLoopWait, NestedWaitsReturnAtOnceAndCompleteFromTheOuterLoop)
{
    std::vector<std::string> events;
    bool innerStarted = false;
    bool releaseA = false;
    bool releaseB = false;
    kx::MainQueue::async([&] {
        RunLoopWait::waitUsingRecursiveRunloop([&] { return !releaseA; }, 5, [&] { events.push_back("A"); });
        events.push_back("A returned");
        RunLoopWait::waitUsingRecursiveRunloop([&] { return !releaseB; }, 5, [&] { events.push_back("B"); });
        events.push_back("B returned");
        innerStarted = true;
        kx::MainQueue::after(std::chrono::milliseconds(20), [&] { releaseB = true; });
        kx::MainQueue::after(std::chrono::milliseconds(40), [&] { releaseA = true; });
    });
    bool outerDone = false;
    RunLoopWait::waitUsingRecursiveRunloop([&] { return !innerStarted; }, 5, [&] {
        events.push_back("outer");
        outerDone = true;
    });
    // The outer call returns only when every entry has completed, each exactly once.
    EXPECT_TRUE(outerDone);
    EXPECT_EQ(events, (std::vector<std::string>{"A returned", "B returned", "outer", "B", "A"}));
}

TEST(RunLoopWait, HandlersThatStartWaitsRunEveryCompletionExactlyOnce)
{
    int first = 0;
    int second = 0;
    int third = 0;
    int predicateStarted = 0;
    RunLoopWait::waitUsingRecursiveRunloop([] { return false; }, 5, [&] {
        ++first;
        // A wait started from a completion handler is settled by the same outer call.
        RunLoopWait::waitUsingRecursiveRunloop([] { return false; }, 5, [&] { ++second; });
    });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);

    bool once = false;
    RunLoopWait::waitUsingRecursiveRunloop(
        [&] {
            if (!once) {
                once = true;
                RunLoopWait::waitUsingRecursiveRunloop([] { return false; }, 5, [&] { ++predicateStarted; });
            }
            return false;
        },
        5, [&] { ++third; });
    EXPECT_EQ(third, 1);
    EXPECT_EQ(predicateStarted, 1);
    EXPECT_FALSE(RunLoopWait::isWaiting());
}

TEST(RunLoopWait, AWaitWithoutPracticalDeadlineLastsUntilTheConditionClears)
{
    for (double timeout : {std::numeric_limits<double>::infinity(), 9.3e9, 1e300}) {
        bool answered = false;
        auto timer = kx::MainQueue::after(std::chrono::milliseconds(20), [&] { answered = true; });
        // The wait ends with the answer, not at once (a deadline that overflowed would end it
        // before the timer ran). How often it asked depends on how busy the machine is.
        bool completedWithAnswer = false;
        RunLoopWait::waitUsingRecursiveRunloop([&] { return !answered; }, timeout, [&] { completedWithAnswer = answered; });
        EXPECT_TRUE(completedWithAnswer) << timeout;
    }
    // Not a number is no time at all.
    int asked = 0;
    RunLoopWait::waitUsingRecursiveRunloop([&] { ++asked; return true; }, std::nan(""), [] {});
    EXPECT_EQ(asked, 1);
}

TEST(RunLoopWait, WorkForWhenNoWaitSpinsRunsAfterTheOutermostWait)
{
    std::vector<std::string> events;
    RunLoopWait::whenNotWaiting([&] { events.push_back("outside"); });
    EXPECT_TRUE(events.empty()); // never at once
    bool released = false;
    kx::MainQueue::async([&] { RunLoopWait::whenNotWaiting([&] { events.push_back("inside"); }); });
    auto timer = kx::MainQueue::after(std::chrono::milliseconds(30), [&] { released = true; });
    RunLoopWait::waitUsingRecursiveRunloop([&] { return !released; }, 5, [&] { events.push_back("waited"); });
    // Queued outside a wait, it was due at the first turn, which the wait itself made; it
    // waited for the end of the wait instead.
    EXPECT_EQ(events, (std::vector<std::string>{"waited"}));
    EXPECT_TRUE(kxtest::spinUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"waited", "outside", "inside"}));
}
