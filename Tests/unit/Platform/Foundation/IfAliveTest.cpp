#include "Platform/Foundation/IfAlive.h"

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace kx {
namespace {

struct Owner {
    std::string heard;
    void hear(const std::string& what) { heard += what; }
};

TEST(IfAlive, CallsMemberOrCallableWhileTheOwnerLivesAndNothingAfterwards)
{
    auto owner = std::make_shared<Owner>();
    std::function<void(const std::string&)> member = ifAlive(owner, &Owner::hear);
    std::function<void(std::string)> callable = ifAlive(owner, [](Owner& self, std::string what) { self.heard += "<" + what + ">"; });
    member("a");
    callable("b");
    EXPECT_EQ(owner->heard, "a<b>");

    // The callbacks do not keep the owner alive; once it is gone they do nothing.
    std::weak_ptr<Owner> weak = owner;
    owner.reset();
    EXPECT_TRUE(weak.expired());
    member("c");
    callable("d");
}

TEST(IfAlive, MoveOnlyArgumentsAndStepsPassThrough)
{
    auto owner = std::make_shared<Owner>();
    auto prefix = std::make_unique<std::string>("x");
    auto step = ifAlive(owner, [prefix = std::move(prefix)](Owner& self, std::unique_ptr<std::string> value) {
        self.heard += *prefix + *value;
    });
    step(std::make_unique<std::string>("y"));
    EXPECT_EQ(owner->heard, "xy");
}

} // namespace
} // namespace kx
