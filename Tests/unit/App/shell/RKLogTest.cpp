#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/Bundle.h"

namespace {

struct Entry {
    GLogLevelFlags level;
    std::map<std::string, std::string> fields;
};

class RKLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kx::RKLogSetWriterForTesting([this](GLogLevelFlags level, std::span<const GLogField> fields) {
            Entry entry{level, {}};
            for (const GLogField& field : fields)
                entry.fields[field.key] = static_cast<const char*>(field.value);
            entries.push_back(std::move(entry));
        });
    }
    void TearDown() override { kx::RKLogSetWriterForTesting(nullptr); }

    std::vector<Entry> entries;
};

} // namespace

TEST_F(RKLogTest, KindsPickCategoryAndLevel)
{
    struct Row {
        unsigned kind;
        const char* category;
        GLogLevelFlags level;
        const char* priority;
    };
    const Row rows[] = {
        {0, "default", G_LOG_LEVEL_MESSAGE, "5"},   {1, "memory", G_LOG_LEVEL_DEBUG, "7"},
        {2, "server", G_LOG_LEVEL_MESSAGE, "5"},    {3, "server", G_LOG_LEVEL_CRITICAL, "3"},
        {4, "appServer", G_LOG_LEVEL_MESSAGE, "5"}, {5, "appServer", G_LOG_LEVEL_MESSAGE, "5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        entries.clear();
        kx::RKLog("100% done: %s", row.kind);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].level, row.level);
        EXPECT_EQ(entries[0].fields[kx::RKLogCategoryField], row.category);
        EXPECT_EQ(entries[0].fields["PRIORITY"], row.priority);
        EXPECT_EQ(entries[0].fields["MESSAGE"], "100% done: %s"); // never a format
        EXPECT_EQ(entries[0].fields["GLIB_DOMAIN"], kx::Bundle::main().bundleIdentifier());
    }
}

TEST_F(RKLogTest, KindsAboveFiveLogNothing)
{
    kx::RKLog("ignored", 6);
    kx::RKLog("ignored", 1000);
    kx::RKLog("ignored", static_cast<unsigned>(-1));
    EXPECT_TRUE(entries.empty());
}
