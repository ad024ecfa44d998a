#include <gtest/gtest.h>

#include <fstream>

#include "Platform/Foundation/Bundle.h"
#include "support/TestPaths.h"

TEST(Bundle, ReadsInfoAndFindsResources)
{
    kxtest::TemporaryDirectory dir;
    std::ofstream(dir / "Info.json") << R"({"CFBundleIdentifier": "com.korvel.x.beta", "Flag": true, "Number": 3})";
    std::filesystem::create_directories(dir / "Sub");
    std::ofstream(dir.path() / "Sub" / "page.html") << "<p>";

    kx::Bundle bundle(dir.path());
    EXPECT_EQ(bundle.bundleIdentifier(), "com.korvel.x.beta");
    EXPECT_TRUE(bundle.boolForInfoKey("Flag"));
    EXPECT_FALSE(bundle.boolForInfoKey("Number"));
    EXPECT_FALSE(bundle.stringForInfoKey("Number").has_value());
    EXPECT_EQ(bundle.pathForResource("page", "html", "Sub"), dir.path() / "Sub" / "page.html");
    EXPECT_FALSE(bundle.pathForResource("page", "html").has_value());
}

TEST(Bundle, MalformedInfoReadsAsEmpty)
{
    kxtest::TemporaryDirectory dir;
    std::ofstream(dir / "Info.json") << "{not json";
    kx::Bundle bundle(dir.path());
    EXPECT_EQ(bundle.bundleIdentifier(), "");
    EXPECT_TRUE(bundle.infoDictionary().is_object());
}

TEST(Bundle, MainBundleIsTheShippedOne)
{
    EXPECT_EQ(kx::Bundle::main().bundleIdentifier().rfind("com.korvel.x", 0), 0u);
}
