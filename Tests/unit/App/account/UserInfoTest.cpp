// The user record as the back end sends it: only a well-formed record is taken.
#include <gtest/gtest.h>

#include "App/account/UserInfo.h"

using kx::UserInfo;

TEST(UserInfo, ReadsTheRecordAndIgnoresWhatItDoesNotKnow)
{
    auto user = UserInfo::decode(R"({"id":"u1","name":"Ada","email":null,"avatar":"https://a/b.png","plan":{"x":1}})");
    ASSERT_TRUE(user.isSuccess());
    EXPECT_EQ(user.value().id, "u1");
    EXPECT_EQ(user.value().name, "Ada");
    EXPECT_FALSE(user.value().email.has_value());
    EXPECT_EQ(UserInfo::decode(user.value().encode()).value(), user.value());
}

TEST(UserInfo, RefusesAnythingElseWithoutQuotingIt)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string huge = R"({"id":"1","name":")" + std::string(UserInfo::maximumSize, 'x') + "\"}";
    for (const std::string& text :
         {std::string("<html>secret-text</html>"), std::string(""), deep, huge, std::string(R"(["id","name"])"),
          std::string(R"({"id":42,"name":"secret-text"})"), std::string(R"({"id":"1","name":["secret-text"]})"),
          std::string(R"({"id":"","name":"x"})"), std::string(R"({"id":"1","name":"two\nlines"})"),
          std::string(R"({"id":"1","name":"x","email":false})"), std::string(R"({"name":"x"})")}) {
        auto user = UserInfo::decode(text);
        ASSERT_TRUE(user.isFailure()) << text.substr(0, 60);
        EXPECT_EQ(user.error().domain, UserInfo::errorDomain);
        EXPECT_EQ(user.error().localizedDescription.find("secret-text"), std::string::npos);
        EXPECT_EQ(user.error().localizedFailureReason.find("secret-text"), std::string::npos);
    }
}
