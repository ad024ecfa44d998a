#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Foundation/Observable.h"

using Phase = kx::Observable<int>::Phase;

TEST(Observable, TellsBeforeAndAfterARealChangeOnly)
{
    kx::Observable<int> value(1);
    std::vector<std::string> heard;
    auto token = value.observe([&](Phase phase, const int& oldValue, const int& newValue) {
        // Before the change the property still holds the old value.
        heard.push_back(std::string(phase == Phase::willChange ? "will " : "did ") + std::to_string(oldValue) + ">"
                        + std::to_string(newValue) + "@" + std::to_string(value.get()));
    });
    value = 2;
    value = 2;             // unchanged: nobody hears of it
    value.set(2, true);    // unless forced
    EXPECT_EQ(heard, (std::vector<std::string>{"will 1>2@1", "did 1>2@2", "will 2>2@2", "did 2>2@2"}));

    token.reset();
    value = 3;
    EXPECT_EQ(heard.size(), 4u);
}

TEST(Observable, ObserversMayComeAndGoWhileBeingTold)
{
    kx::Observable<int> value;
    kx::Observable<int>::Token second;
    kx::Observable<int>::Token added;
    int secondCalls = 0;
    int initial = -1;
    auto first = value.observe([&](Phase phase, const int&, const int&) {
        if (phase == Phase::willChange) {
            second.reset();
            added = value.observe([&](Phase, const int&, const int& now) { initial = now; }, /*initial=*/true);
        }
    });
    second = value.observe([&](Phase, const int&, const int&) { ++secondCalls; });
    value = 5;
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(initial, 5); // the late observer is told on the did-change pass of the same change
}
