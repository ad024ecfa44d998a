// The user agent's engine token against the one WebKitGTK itself sends (reading it needs a
// display, so this is a window test).
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <string>

#include "App/shell/AppInfo.h"
#include "Platform/Foundation/GObjectRef.h"

TEST(AppInfoGui, TheUserAgentCarriesTheEngineVersionWebKitGTKItselfSends)
{
    const auto settings = kx::GObjectRef<WebKitSettings>::adopt(webkit_settings_new());
    const std::string own = webkit_settings_get_user_agent(settings.get());
    const std::string token = "AppleWebKit/";
    const auto start = own.find(token);
    ASSERT_NE(start, std::string::npos) << own;
    const auto from = start + token.size();
    const std::string engine = own.substr(from, own.find(' ', from) - from);
    EXPECT_EQ(kx::AppInfo::webkitVersion(), engine);
    EXPECT_NE(kx::AppInfo::current()->userAgent().find(token + engine + " "), std::string::npos);
}
