#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/Bundle.h"
#include "support/ScopedSetting.h"

TEST(RKLog, KindsPickCategoryAndLevelAndOthersLogNothing)
{
    std::vector<std::pair<GLogLevelFlags, std::map<std::string, std::string>>> entries;
    kxtest::ScopedSetting writer(kx::RKLogSetWriterForTesting, [&](GLogLevelFlags level, std::span<const GLogField> fields) {
        auto& entry = entries.emplace_back(level, std::map<std::string, std::string>{}).second;
        for (const GLogField& field : fields)
            entry[field.key] = static_cast<const char*>(field.value);
    });
    const std::tuple<const char*, GLogLevelFlags, const char*> expected[] = {
        {"default", G_LOG_LEVEL_MESSAGE, "5"},   {"memory", G_LOG_LEVEL_DEBUG, "7"},
        {"server", G_LOG_LEVEL_MESSAGE, "5"},    {"server", G_LOG_LEVEL_WARNING, "3"},
        {"appServer", G_LOG_LEVEL_MESSAGE, "5"}, {"appServer", G_LOG_LEVEL_MESSAGE, "5"},
    };
    for (unsigned kind = 0; kind < 6; ++kind)
        kx::RKLog("100% done: %s", kind);
    kx::RKLog("ignored", 6);
    kx::RKLog("ignored", static_cast<unsigned>(-1));

    ASSERT_EQ(entries.size(), 6u);
    for (unsigned kind = 0; kind < 6; ++kind) {
        auto& [level, fields] = entries[kind];
        EXPECT_EQ(level, std::get<1>(expected[kind])) << kind;
        EXPECT_EQ(fields[kx::RKLogCategoryField], std::get<0>(expected[kind])) << kind;
        EXPECT_EQ(fields["PRIORITY"], std::get<2>(expected[kind])) << kind;
        EXPECT_EQ(fields["MESSAGE"], "100% done: %s"); // never taken as a format
        EXPECT_EQ(fields["GLIB_DOMAIN"], kx::Bundle::main().bundleIdentifier());
    }
}
