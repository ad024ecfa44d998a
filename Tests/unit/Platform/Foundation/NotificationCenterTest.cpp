#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "support/Spin.h"

using kx::Notification;
using kx::NotificationCenter;

TEST(NotificationCenter, DeliversByNameAndSenderUntilTheTokenGoes)
{
    NotificationCenter center;
    int a = 0;
    int b = 0;
    std::vector<int> anySender;
    auto fromA = center.addObserver("Changed", &a, [&](const Notification&) { ++a; });
    auto fromAnyone = center.addObserver("Changed", nullptr, [&](const Notification& n) {
        anySender.push_back(n.userInfo.value("n", -1));
    });
    center.post("Changed", &a, {{"n", 1}});
    center.post("Changed", &b, {{"n", 2}});
    center.post("Other", &a);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(anySender, (std::vector<int>{1, 2}));

    fromA.reset();
    center.post("Changed", &a, {{"n", 3}});
    EXPECT_EQ(a, 1);
    EXPECT_EQ(anySender.size(), 3u);
}

TEST(NotificationCenter, ObserverRemovedDuringDeliveryIsNotCalled)
{
    NotificationCenter center;
    NotificationCenter::Token second;
    int secondCalls = 0;
    auto first = center.addObserver("N", nullptr, [&](const Notification&) { second.reset(); });
    second = center.addObserver("N", nullptr, [&](const Notification&) { ++secondCalls; });
    center.post("N", nullptr);
    EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenter, PostFromAnotherThreadArrivesOnTheMainThread)
{
    NotificationCenter center;
    bool onMain = false;
    bool received = false;
    auto token = center.addObserver("Worker", nullptr, [&](const Notification&) {
        onMain = kx::MainQueue::isMainThread();
        received = true;
    });
    std::thread([&] { center.post("Worker", nullptr); }).join();
    ASSERT_TRUE(kxtest::spinUntil([&] { return received; }));
    EXPECT_TRUE(onMain);
}

TEST(NotificationCenter, EnqueuedPostsCoalescePerNameAndSenderUntilIdle)
{
    NotificationCenter center;
    int senderA = 0;
    int senderB = 0;
    std::vector<std::pair<const void*, int>> received;
    auto token = center.addObserver("StateDidUpdate", nullptr, [&](const Notification& n) {
        received.emplace_back(n.sender, n.userInfo.value("v", 0));
    });
    center.enqueue("StateDidUpdate", &senderA, {{"v", 1}});
    center.enqueue("StateDidUpdate", &senderA, {{"v", 2}});
    center.enqueue("StateDidUpdate", &senderB, {{"v", 7}});
    center.enqueue("StateDidUpdate", &senderA, {{"v", 3}});
    EXPECT_TRUE(received.empty()) << "coalesced posts wait for the idle main loop";
    ASSERT_TRUE(kxtest::spinUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0], std::make_pair(static_cast<const void*>(&senderA), 3));
    EXPECT_EQ(received[1], std::make_pair(static_cast<const void*>(&senderB), 7));

    // Once delivered, the next post is a new one; a cancelled one never arrives.
    center.enqueue("StateDidUpdate", &senderA, {{"v", 4}});
    center.enqueue("StateDidUpdate", &senderB, {{"v", 8}});
    center.cancelPending(&senderB);
    ASSERT_TRUE(kxtest::spinUntil([&] { return received.size() == 3; }));
    kxtest::spinFor(std::chrono::milliseconds(20));
    EXPECT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2].second, 4);
}
