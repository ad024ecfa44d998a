#include <gtest/gtest.h>

#include "Services/runtime/ServiceError.h"
#include "Services/runtime/ServiceValueHelper.h"

namespace {

using kx::ServiceError;

ServiceError decode(std::string_view text)
{
    return kx::ServiceValueHelper::jsonDecoder().decode<ServiceError>(text);
}

std::string body(const ServiceError& error)
{
    return kx::ServiceValueHelper::toMessageBody(error).json;
}

TEST(ServiceError, EncodesItsCodeAndOnlyAnImplementationMessage)
{
    EXPECT_EQ(body(ServiceError::serviceNotFound()), R"({"code":404})");
    EXPECT_EQ(body(ServiceError::badResponse()), R"({"code":422})");
    EXPECT_EQ(body(ServiceError::implementation("disk full")), R"({"code":500,"message":"disk full"})");
    EXPECT_EQ(body(ServiceError::implementation()), R"({"code":500})");

    const ServiceError all[] = {ServiceError::implementation("m"), ServiceError::implementation(),
                                ServiceError::serviceNotFound(), ServiceError::serviceRequiresUpgrade(),
                                ServiceError::serviceGone(), ServiceError::timedOut(), ServiceError::badRequest(),
                                ServiceError::badResponse()};
    const std::int64_t codes[] = {500, 500, 404, 426, 410, 504, 400, 422};
    for (std::size_t i = 0; i < std::size(all); ++i) {
        EXPECT_EQ(all[i].code(), codes[i]);
        EXPECT_EQ(decode(body(all[i])), all[i]) << body(all[i]);
    }
}

TEST(ServiceError, ReadsAnythingUnreadableAsBadResponse)
{
    EXPECT_EQ(decode(R"({"code":500})"), ServiceError::implementation());
    EXPECT_EQ(decode(R"({"code":500,"message":null})"), ServiceError::implementation());
    EXPECT_EQ(decode(R"({"code":404,"message":"dropped"})"), ServiceError::serviceNotFound());
    EXPECT_FALSE(decode(R"({"code":404,"message":"dropped"})").message());
    for (const char* text : {R"({"code":418})", R"({"code":"404"})", R"({"message":"m"})", "[]", "null",
                             R"({"code":500,"message":5})", R"({"code":404.5})"})
        EXPECT_EQ(decode(text), ServiceError::badResponse()) << text;
}

} // namespace
