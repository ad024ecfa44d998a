#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/OrderedDelivery.h"
#include "support/Spin.h"

using kx::OrderedDelivery;
using namespace std::chrono_literals;

TEST(OrderedDelivery, ResultsArriveInTheOrderGivenWhateverTheWorkersTake)
{
    auto delivery = OrderedDelivery::make();
    std::vector<std::string> heard;
    auto record = [&](std::string name) { return [&heard, name] { heard.push_back(name); }; };

    // Nothing waiting: delivered at once.
    delivery->then(record("first"));
    EXPECT_EQ(heard, std::vector<std::string>{"first"});

    // A slow piece of work holds up the quick one after it and what is given plainly after both.
    delivery->async([&, record] {
        std::this_thread::sleep_for(50ms);
        return record("slow");
    });
    delivery->async([record] { return record("quick"); });
    delivery->then(record("plain"));
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_FALSE(delivery->isIdle());
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() == 4; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "slow", "quick", "plain"}));
    EXPECT_TRUE(delivery->isIdle());
}

TEST(OrderedDelivery, WhatADeliveryAddsComesAfterWhatWasWaitingAndNothingIsDeliveredTwice)
{
    auto delivery = OrderedDelivery::make();
    std::vector<int> heard;
    delivery->async([&] {
        std::this_thread::sleep_for(20ms);
        return OrderedDelivery::Deliver([&] {
            heard.push_back(1);
            // Given from inside a delivery, behind the one already waiting.
            delivery->then([&] { heard.push_back(3); });
        });
    });
    delivery->then([&] { heard.push_back(2); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return heard.size() == 3; }));
    kxtest::settle();
    EXPECT_EQ(heard, (std::vector<int>{1, 2, 3}));
}

TEST(OrderedDelivery, ClearedOrGoneItDeliversNothingMore)
{
    std::vector<int> heard;
    auto delivery = OrderedDelivery::make();
    delivery->async([&] { return OrderedDelivery::Deliver([&] { heard.push_back(1); }); });
    delivery->then([&] { heard.push_back(2); });
    delivery->clear();
    EXPECT_TRUE(delivery->isIdle());
    delivery->then([&] { heard.push_back(3); });
    EXPECT_EQ(heard, std::vector<int>{3});

    // Its owner gone while a worker still works: the result is dropped, not delivered.
    std::atomic<bool> workDone{false};
    delivery->async([&] {
        std::this_thread::sleep_for(20ms);
        workDone = true;
        return OrderedDelivery::Deliver([&] { heard.push_back(4); });
    });
    delivery.reset();
    ASSERT_TRUE(kxtest::spinUntil([&] { return workDone.load(); }));
    kxtest::settle();
    EXPECT_EQ(heard, std::vector<int>{3});
}
