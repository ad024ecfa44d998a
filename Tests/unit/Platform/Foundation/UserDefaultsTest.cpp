#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/TestPaths.h"

using kx::UserDefaults;

TEST(UserDefaults, StoredValuesWinOverRegisteredOnesAndSurviveARestart)
{
    kxtest::TemporaryDirectory dir;
    const auto file = dir.path() / "config" / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.registerDefaults({{"HasDarkAppearance", false}, {"Count", 5}, {"Name", "registered"}});
        EXPECT_FALSE(defaults.boolForKey("HasDarkAppearance"));
        EXPECT_EQ(defaults.integerForKey("Count"), 5);
        EXPECT_EQ(defaults.integerForKey("Missing"), 0);
        EXPECT_TRUE(defaults.objectForKey("Missing").is_null());

        defaults.setBool("HasDarkAppearance", true);
        defaults.setInteger("Count", 6);
        defaults.setObject("List", nlohmann::json::array({1, "two"}));
        EXPECT_TRUE(defaults.synchronize());
    }
    UserDefaults reopened(file);
    EXPECT_TRUE(reopened.boolForKey("HasDarkAppearance"));
    EXPECT_EQ(reopened.integerForKey("Count"), 6);
    EXPECT_EQ(reopened.objectForKey("List"), nlohmann::json::array({1, "two"}));
    // Registrations belong to one run and are never written.
    EXPECT_FALSE(reopened.stringForKey("Name").has_value());

    reopened.removeObject("Count");
    reopened.registerDefaults({{"Count", 9}});
    EXPECT_EQ(reopened.integerForKey("Count"), 9);
}

TEST(UserDefaults, ObserversHearTheirOwnKeyUntilTheTokenGoes)
{
    kxtest::TemporaryDirectory dir;
    UserDefaults defaults(dir / "defaults.json");
    int dark = 0;
    int other = 0;
    auto darkToken = defaults.observe("HasDarkAppearance", [&] { ++dark; });
    auto otherToken = defaults.observe("Other", [&] { ++other; });
    defaults.setBool("HasDarkAppearance", true);
    defaults.removeObject("HasDarkAppearance");
    defaults.registerDefaults({{"HasDarkAppearance", true}});
    EXPECT_EQ(dark, 2);
    EXPECT_EQ(other, 0);
    darkToken.reset();
    defaults.setBool("HasDarkAppearance", false);
    EXPECT_EQ(dark, 2);
}

TEST(UserDefaults, TypedReadsAreLenientOnlyWhereItIsSafe)
{
    kxtest::TemporaryDirectory dir;
    UserDefaults defaults(dir / "defaults.json");
    defaults.registerDefaults({{"b", 1}, {"f", 2.9}, {"s", "text"}, {"big", 1e300}, {"yes", "YES"}});
    EXPECT_TRUE(defaults.boolForKey("b"));
    EXPECT_TRUE(defaults.boolForKey("yes"));
    EXPECT_FALSE(defaults.boolForKey("s"));
    EXPECT_EQ(defaults.integerForKey("f"), 2);
    EXPECT_EQ(defaults.integerForKey("big"), 0);
    EXPECT_EQ(defaults.integerForKey("s"), 0);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("b"), 1.0);
    EXPECT_FALSE(defaults.stringForKey("b").has_value());
}

TEST(UserDefaults, UnreadableFileIsKeptAsideNotOverwritten)
{
    kxtest::TemporaryDirectory dir;
    const auto file = dir / "defaults.json";
    std::ofstream(file) << "{broken";
    UserDefaults defaults(file);
    defaults.setString("Key", "value");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(kx::FileSystem::readFile(file.string() + ".unreadable"), "{broken");
    EXPECT_EQ(UserDefaults(file).stringForKey("Key"), "value");
}

TEST(UserDefaults, WritesFromManyThreadsAllLand)
{
    kxtest::TemporaryDirectory dir;
    const auto file = dir / "defaults.json";
    {
        UserDefaults defaults(file);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 50; ++i)
                    defaults.setInteger("k" + std::to_string(t) + "." + std::to_string(i), i);
            });
        for (auto& thread : threads)
            thread.join();
    } // the destructor writes what is pending
    UserDefaults reopened(file);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 50; ++i)
            ASSERT_EQ(reopened.integerForKey("k" + std::to_string(t) + "." + std::to_string(i)), i);
}

TEST(UserDefaults, TextThatIsNotUTF8NeitherCrashesNorStopsOtherValuesFromSaving)
{
    // File names on Linux are bytes; one stored as a setting must not take the process down
    // on the writer thread, nor keep every later setting from reaching the disk.
    kxtest::TemporaryDirectory dir;
    const auto file = dir / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.setString("LastFolder", "/home/d/Entw\xFC rfe");
        defaults.setInteger("Count", 7);
        EXPECT_TRUE(defaults.synchronize());
    }
    UserDefaults reopened(file);
    EXPECT_EQ(reopened.integerForKey("Count"), 7);
    EXPECT_TRUE(reopened.stringForKey("LastFolder").has_value());
}
