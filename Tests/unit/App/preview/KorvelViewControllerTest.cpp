// The preview page's address and the package names the page may ask for.
#include <gtest/gtest.h>

#include "App/preview/KorvelViewController.h"

namespace {

using kx::KorvelViewController;

TEST(KorvelViewController, PageAddressOfTheProjectServer)
{
    EXPECT_EQ(KorvelViewController::previewPageURL(std::nullopt, "http://127.0.0.1:4321/", "http://127.0.0.1:4321/"),
              "http://127.0.0.1:4321/_app/resources/Nimbet/preview.html?imageBaseURL=http://127.0.0.1:4321/"
              "&projectURL=http://127.0.0.1:4321/&console=1");
    // Without a trailing slash, and with a query of its own that the three items replace.
    EXPECT_EQ(KorvelViewController::previewPageURL(std::nullopt, "http://127.0.0.1:4321?old=1", "http://a/"),
              "http://127.0.0.1:4321/_app/resources/Nimbet/preview.html?imageBaseURL=http://a/"
              "&projectURL=http://127.0.0.1:4321?old%3D1&console=1");
}

TEST(KorvelViewController, PageAddressOfADevelopmentServer)
{
    EXPECT_EQ(KorvelViewController::previewPageURL(std::string("http://localhost:8080/app"), "http://127.0.0.1:1/",
                                                  "http://127.0.0.1:1/"),
              "http://localhost:8080/app/preview.dev.html?imageBaseURL=http://127.0.0.1:1/"
              "&projectURL=http://127.0.0.1:1/&console=1");
}

TEST(KorvelViewController, PlusSignsAndDelimitersOfTheValues)
{
    const auto url = KorvelViewController::previewPageURL(std::nullopt, "http://127.0.0.1:1/",
                                                          "http://h/a+b/?x=1&y=2#f");
    ASSERT_TRUE(url);
    // "+" becomes "%2B" before the value is written as a query item, which escapes its "%".
    EXPECT_NE(url->find("imageBaseURL=http://h/a%252Bb/?x%3D1%26y%3D2%23f&projectURL="), std::string::npos) << *url;
    EXPECT_FALSE(KorvelViewController::previewPageURL(std::nullopt, "not a url", "x"));
}

TEST(KorvelViewController, PackageNamesOfNpmsGrammarOnly)
{
    for (const char* name : {"left-pad", "@types/node", "lodash.merge", "a", "x_y~z", "@scope-1/pkg.name"})
        EXPECT_TRUE(KorvelViewController::isPackageName(name)) << name;
    for (const char* name : {"", "-g", "--registry=http://evil", ".hidden", "_under", "Upper", "has space",
                             "https://evil.example/pkg.tgz", "file:../x", "git+ssh://git@host/repo.git",
                             "left-pad@1.0.0", "../escape", "@scope", "@/x", "@scope/", "@Scope/x", "a/b",
                             "node_modules", "favicon.ico", "caf\xc3\xa9"})
        EXPECT_FALSE(KorvelViewController::isPackageName(name)) << name;
    EXPECT_TRUE(KorvelViewController::isPackageName(std::string(214, 'a')));
    EXPECT_FALSE(KorvelViewController::isPackageName(std::string(215, 'a')));
}

} // namespace
