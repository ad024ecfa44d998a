#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "App/shell/AppInfo.h"
#include "support/ScopedSetting.h"
#include "support/StdoutCapture.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::AppInfo;

namespace {

// Info.json facts of a test bundle over `resources`, with `extra` merged in.
kx::Bundle testBundle(const fs::path& resources, const std::string& identifier, nlohmann::json extra = {})
{
    nlohmann::json info = {{"CFBundleIdentifier", identifier},
                           {"CFBundleName", "Korvel X"},
                           {"CFBundleExecutable", "korvel-x"},
                           {"CFBundleShortVersionString", "1.2"}};
    if (extra.is_object())
        info.update(extra);
    return kx::Bundle(resources, info);
}

void writeFile(const fs::path& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

} // namespace

TEST(AppInfo, ChannelFlagsAndLibraryFlavourFollowTheBundleIdentifier)
{
    kxtest::TemporaryDirectory resources;
    for (const char* flavour : {"public", "beta", "internal"})
        fs::create_directories(resources.path() / "Library" / flavour);
    // Flags set, as letters: Development, Alpha, Beta, Omega, Production, Enterprise, Internal.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"com.korvel.x", "P", "public"},        {"com.korvel.x.dev", "DI", "internal"},
        {"com.korvel.x.alpha", "AI", "internal"}, {"com.korvel.x.beta", "B", "beta"},
        {"com.korvel.x.omega", "OI", "internal"}, {"com.korvel.x.enterprise", "E", "internal"},
        {"", "", "internal"},
    };
    for (const auto& [identifier, flags, flavour] : rows) {
        AppInfo info(testBundle(resources.path(), identifier), "KorvelX");
        std::string set;
        for (auto [letter, on] : {std::pair{'D', info.isDevelopment()}, {'A', info.isAlpha()}, {'B', info.isBeta()},
                                  {'O', info.isOmega()}, {'P', info.isProduction()}, {'E', info.isEnterprise()},
                                  {'I', info.isInternal()}})
            if (on)
                set += letter;
        EXPECT_EQ(set, flags) << identifier;
        EXPECT_EQ(info.libraryBundlePath(), resources.path() / "Library" / flavour) << identifier;
    }
}

TEST(AppInfo, BuildNameComesFromTheShortVersion)
{
    kxtest::TemporaryDirectory resources;
    const std::pair<const char*, const char*> cases[] = {
        {"beta/1.2", "Beta"}, {"NIGHTLY/7", "Nightly"}, {"//alpha//3", "Alpha"}, {"/", ""},
        {"local", "Dev"},     {"Local", ""},            {"2.1", ""},           {"", ""},
    };
    for (const auto& [version, name] : cases) {
        SCOPED_TRACE(version);
        AppInfo info(testBundle(resources.path(), "com.korvel.x", {{"CFBundleShortVersionString", version}}), "KorvelX");
        EXPECT_EQ(info.buildName(), name);
    }
    AppInfo enterprise(testBundle(resources.path(), "com.korvel.x.enterprise", {{"CFBundleShortVersionString", "local"}}),
                       "KorvelX");
    EXPECT_EQ(enterprise.buildName(), "Enterprise");
}

TEST(AppInfo, UserAgentNamesThisSystemWebKitAndTheApp)
{
    kxtest::TemporaryDirectory resources;
    AppInfo info(testBundle(resources.path(), "com.korvel.x"), "KorvelX");
    const std::regex shape(R"(Mozilla/5\.0 \(X11; Linux [A-Za-z0-9_]+\) AppleWebKit/605\.1\.15 \(KHTML, like Gecko\) KorvelX/1\.2)");
    EXPECT_TRUE(std::regex_match(info.userAgent(), shape)) << info.userAgent();
    EXPECT_TRUE(std::regex_match(AppInfo::operatingSystemVersion(), std::regex(R"(\d+_\d+(_[1-9]\d*)?)")));
}

TEST(AppInfo, CurrentIsMadeFromTheBundleAndCanBeReplaced)
{
    kxtest::TemporaryDirectory resources;
    auto named = AppInfo::forBundle(testBundle(resources.path(), "com.korvel.x", {{"UserAgentName", "Agent"}}));
    EXPECT_EQ(named->appVersion(), "Agent/1.2");
    auto fallback = AppInfo::forBundle(testBundle(resources.path(), "com.korvel.x"));
    EXPECT_EQ(fallback->appVersion(), "Korvel X/1.2");

    auto shipped = AppInfo::current();
    EXPECT_EQ(shipped->bundle().bundleIdentifier().rfind("com.korvel.x", 0), 0u);
    {
        kxtest::ScopedSetting current(AppInfo::setCurrent, named, shipped);
        EXPECT_EQ(AppInfo::current(), named);
    }

    EXPECT_DEATH(AppInfo::forBundle(kx::Bundle(resources.path(), nlohmann::json::object())),
                 "Could not find Bundle Name");
}

TEST(AppInfo, FoldersLiveUnderTheDataHomeUnlessOverridden)
{
    kxtest::TemporaryDirectory data;
    kxtest::ScopedSetting dataHome("XDG_DATA_HOME", data.path().c_str());
    kxtest::TemporaryDirectory resources;

    AppInfo info(testBundle(resources.path(), "com.korvel.x"), "KorvelX");
    EXPECT_EQ(info.supportURL(), data.path() / "korvel-x");
    EXPECT_EQ(info.nimbetDir(), data.path() / "korvel-x" / "Nimbet");
    EXPECT_EQ(info.snippetsPath(), data.path() / "korvel-x" / "Snippets");
    EXPECT_EQ(info.yarnLinkFolder(), data.path() / "korvel-x" / "yarn-link-folder");

    AppInfo overridden(testBundle(resources.path(), "com.korvel.x"), "KorvelX", "Other", fs::path("/n"));
    EXPECT_EQ(overridden.nimbetDir(), fs::path("/n"));
    EXPECT_EQ(overridden.libraryDir(), data.path() / "Other" / "Library");

    // A name that is not one plain folder name never becomes a folder outside the data home.
    for (const char* bad : {"..", "a/../..", ""}) {
        AppInfo escaping(testBundle(resources.path(), "com.korvel.x"), "KorvelX", std::string(bad));
        EXPECT_FALSE(escaping.supportURL().has_value()) << bad;
        EXPECT_FALSE(escaping.nimbetDir().has_value()) << bad;
    }
    AppInfo unnamed(kx::Bundle(resources.path(), {{"CFBundleIdentifier", "com.korvel.x"}}), "KorvelX");
    EXPECT_FALSE(unnamed.yarnLinkFolder().has_value());
}

TEST(AppInfo, DevServerFileCountsOnlyWhenItIsOursAndAURL)
{
    kxtest::TemporaryDirectory dir;
    const fs::path file = dir / "nimbet-debug-url";
    writeFile(file, "  \thttp://localhost:8080/editor/ \n\n");
    EXPECT_EQ(AppInfo::devServerURL(file, geteuid()), "http://localhost:8080/editor/");
    // Anyone else's file is ignored, and so is one that others may write.
    EXPECT_FALSE(AppInfo::devServerURL(file, geteuid() + 1).has_value());
    ::chmod(file.c_str(), 0666);
    EXPECT_FALSE(AppInfo::devServerURL(file, geteuid()).has_value());
    ::chmod(file.c_str(), 0600);
    EXPECT_TRUE(AppInfo::devServerURL(file, geteuid()).has_value());

    // A link is not followed, whatever it points at.
    fs::create_symlink(file, dir / "link");
    EXPECT_FALSE(AppInfo::devServerURL(dir / "link", geteuid()).has_value());
    EXPECT_FALSE(AppInfo::devServerURL(dir.path(), geteuid()).has_value());
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(AppInfo::devServerURL(dir / "fifo", geteuid()).has_value());

    for (const char* text : {"", " \n", "not a url", "http://local host/", "\xff\xfe"}) {
        writeFile(file, text, 0600);
        EXPECT_FALSE(AppInfo::devServerURL(file, geteuid()).has_value()) << text;
    }
    writeFile(file, std::string(70 * 1024, ' ') + "http://localhost:1/", 0600);
    EXPECT_FALSE(AppInfo::devServerURL(file, geteuid()).has_value());
}

TEST(AppInfo, OnlyInternalBuildsUseTheDevServerFileReadAnewEachTime)
{
    kxtest::TemporaryDirectory dir;
    const fs::path file = dir / "nimbet-debug-url";
    writeFile(file, "http://127.0.0.1:3000\n");

    AppInfo production(testBundle(dir.path(), "com.korvel.x"), "KorvelX", {}, {}, {}, file);
    EXPECT_FALSE(production.nimbetDevServerURL().has_value());
    EXPECT_FALSE(production.isLocal());

    AppInfo alpha(testBundle(dir.path(), "com.korvel.x.alpha"), "KorvelX", {}, {}, {}, file);
    EXPECT_EQ(alpha.nimbetDevServerURL(), "http://127.0.0.1:3000");
    EXPECT_TRUE(alpha.isLocal());
    writeFile(file, "http://127.0.0.1:4000\n");
    EXPECT_EQ(alpha.nimbetDevServerURL(), "http://127.0.0.1:4000");
    fs::remove(file);
    EXPECT_FALSE(alpha.isLocal());

    AppInfo development(testBundle(dir.path(), "com.korvel.x.dev"), "KorvelX", {}, {}, {}, file);
    EXPECT_TRUE(development.isLocal());
}

TEST(AppInfo, NimbetGlobalsDecodeStrictly)
{
    auto globals = AppInfo::NimbetGlobals::decode(
        R"({"documentVersion": 42, "appMenu": [{"label": "Edit", "submenu": [{"type": "separator"}]}], "extra": 1})");
    ASSERT_TRUE(globals.isSuccess());
    EXPECT_EQ(globals.value().documentVersion, 42);
    ASSERT_EQ(globals.value().appMenu.size(), 1u);
    EXPECT_EQ(globals.value().appMenu[0].label, "Edit");
    ASSERT_TRUE(globals.value().appMenu[0].submenu.has_value());
    EXPECT_EQ(globals.value().appMenu[0].submenu->at(0).type, "separator");
    EXPECT_EQ(AppInfo::NimbetGlobals::decode(R"({"documentVersion": 7.0, "appMenu": []})").value().documentVersion, 7);

    for (const char* bad : {
             R"({"appMenu": []})",
             R"({"documentVersion": 1})",
             R"({"documentVersion": true, "appMenu": []})",
             R"({"documentVersion": 1.5, "appMenu": []})",
             R"({"documentVersion": 18446744073709551615, "appMenu": []})",
             R"({"documentVersion": 1, "appMenu": {}})",
             R"({"documentVersion": 1, "appMenu": [1]})",
             R"({"documentVersion": 1, "appMenu": [{"label": 3}]})",
             R"({"documentVersion": 1, "appMenu": [{"submenu": [{"enabled": "yes"}]}]})",
             R"({"documentVersion": 1, )",
         }) {
        EXPECT_TRUE(AppInfo::NimbetGlobals::decode(bad).isFailure()) << bad;
    }
}

// A menu nested `depth` submenus deep.
std::string nestedMenu(int depth)
{
    std::string text = R"({"documentVersion": 1, "appMenu": )";
    for (int i = 0; i < depth; ++i)
        text += R"([{"label": "m", "submenu": )";
    text += "[]";
    for (int i = 0; i < depth; ++i)
        text += "}]";
    return text + "}";
}

TEST(AppInfo, DeeplyNestedGlobalsAreRefusedNotOverflowingTheStack)
{
    auto shallow = AppInfo::NimbetGlobals::decode(nestedMenu(100));
    ASSERT_TRUE(shallow.isSuccess());
    EXPECT_EQ(shallow.value().appMenu.at(0).submenu->at(0).label, "m");
    EXPECT_TRUE(AppInfo::NimbetGlobals::decode(nestedMenu(200000)).isFailure());

    kxtest::TemporaryDirectory dir;
    writeFile(dir / "app-globals.json", nestedMenu(200000));
    AppInfo info(testBundle(dir.path(), "com.korvel.x"), "KorvelX", {}, dir.path());
    kxtest::StdoutCapture quiet;
    EXPECT_FALSE(info.nimbetGlobals().has_value());
    quiet.text();
}

TEST(AppInfo, NimbetGlobalsAreReadOnceFromTheEditorFolder)
{
    kxtest::TemporaryDirectory dir;
    AppInfo missing(testBundle(dir.path(), "com.korvel.x"), "KorvelX", {}, dir / "absent");
    EXPECT_FALSE(missing.nimbetGlobals().has_value());

    writeFile(dir / "app-globals.json", R"({"documentVersion": 3, "appMenu": []})");
    AppInfo info(testBundle(dir.path(), "com.korvel.x"), "KorvelX", {}, dir.path());
    ASSERT_TRUE(info.nimbetGlobals().has_value());
    EXPECT_EQ(info.nimbetGlobals()->documentVersion, 3);
    writeFile(dir / "app-globals.json", R"({"documentVersion": 4, "appMenu": []})");
    EXPECT_EQ(info.nimbetGlobals()->documentVersion, 3);

    writeFile(dir / "app-globals.json", R"({"appMenu": []})");
    AppInfo malformed(testBundle(dir.path(), "com.korvel.x"), "KorvelX", {}, dir.path());
    EXPECT_FALSE(malformed.nimbetGlobals().has_value());
}
