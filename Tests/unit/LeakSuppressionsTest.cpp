// The leak suppressions that name a system function instead of a library stay narrow only
// while no code of ours calls that function.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestPaths.h"

namespace {

namespace fs = std::filesystem;

// The functions of the entries whose comment says "(never-called)".
std::vector<std::string> neverCalled()
{
    std::ifstream file(kxtest::testSourceDir() / "sanitizers/lsan.supp");
    std::vector<std::string> names;
    bool marked = false;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("#")) {
            marked = marked || line.find("(never-called)") != std::string::npos;
        } else if (line.starts_with("leak:")) {
            if (marked)
                names.push_back(line.substr(5));
            marked = false;
        }
    }
    return names;
}

TEST(LeakSuppressions, WhatTheyNameIsCalledByNoSourceOfOurs)
{
    const auto names = neverCalled();
    ASSERT_FALSE(names.empty());
    for (const auto& entry : fs::recursive_directory_iterator(kxtest::testSourceDir().parent_path() / "Source")) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        for (const auto& name : names)
            EXPECT_EQ(text.str().find(name + "("), std::string::npos) << entry.path() << " calls " << name;
    }
}

} // namespace
