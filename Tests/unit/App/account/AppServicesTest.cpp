#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "App/account/AppServices.h"

namespace {

TEST(AppServices, EndpointsAreOneObjectOfFourAbsoluteURLs)
{
    const auto endpoints = nlohmann::json::parse(kx::AppServices::endpointsJSON());
    ASSERT_TRUE(endpoints.is_object());
    EXPECT_EQ(endpoints.size(), 4u);
    for (const char* key : {"api", "publicStore", "privateStore", "tracking"}) {
        ASSERT_TRUE(endpoints.contains(key)) << key;
        EXPECT_EQ(endpoints[key].get<std::string>().rfind("https://", 0), 0u) << key;
    }
    EXPECT_EQ(kx::AppServices::endpointsJSON({"\xff", "", "", ""}), "{}");
}

} // namespace
