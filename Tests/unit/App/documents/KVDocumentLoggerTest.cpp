// The project log: its line format, the repeat filter, buffered writes that survive the
// logger, the cut to the last MiB and tokens that never reach the file.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "App/documents/KVDocumentLogger.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

using namespace kx;

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write(const fs::path& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::vector<std::string> messagesOf(const std::string& text)
{
    std::vector<std::string> messages;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        auto dash = line.find(" - ", line.find("] - ") + 4);
        messages.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
    }
    return messages;
}

class KVDocumentLoggerTest : public ::testing::Test {
protected:
    kxtest::TemporaryDirectory temp;
    fs::path file = temp / ".project.log";
};

TEST_F(KVDocumentLoggerTest, WritesLinesInItsFormat)
{
    KVDocumentLogger logger(file);
    logger.log(LogMessage{"Done saving", "info", std::nullopt});
    logger.log(LogMessage{"[Save session: 0] Started", "debug", std::nullopt});
    logger.waitUntilWritten();
    std::regex format(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{4}\] - INFO - Done saving\n\[[^\]]+\] - DEBUG - \[Save session: 0\] Started\n)");
    EXPECT_TRUE(std::regex_match(contents(file), format)) << contents(file);
}

TEST_F(KVDocumentLoggerTest, DropsMessagesThatRepeatThePreviousBatchOfIds)
{
    KVDocumentLogger logger(file);
    logger.log(std::vector<LogMessage>{{"a", "error", "1"}, {"b", "error", "2"}});
    logger.log(std::vector<LogMessage>{{"a again", "error", "1"}, {"plain", "info", std::nullopt}, {"c", "error", "3"}});
    // A batch without ids leaves the remembered ids alone.
    logger.log(std::vector<LogMessage>{{"no id", "info", std::nullopt}});
    logger.log(std::vector<LogMessage>{{"c again", "error", "3"}, {"b again", "error", "2"}});
    logger.log(std::vector<LogMessage>{});
    logger.waitUntilWritten();
    EXPECT_EQ(messagesOf(contents(file)), (std::vector<std::string>{"a", "b", "plain", "c", "no id", "b again"}));
}

TEST_F(KVDocumentLoggerTest, WhatIsBufferedIsWrittenWhenTheLoggerGoes)
{
    auto logger = std::make_unique<KVDocumentLogger>(file);
    for (int i = 0; i < 100; ++i)
        logger->log(LogMessage{"line " + std::to_string(i), "info", std::nullopt});
    logger.reset();
    KVDocumentLogger later(temp / "other.log");
    later.waitUntilWritten(); // the queue has run what came before
    auto messages = messagesOf(contents(file));
    ASSERT_EQ(messages.size(), 100u);
    EXPECT_EQ(messages.back(), "line 99");
}

TEST_F(KVDocumentLoggerTest, CallersOnManyThreadsAllGetTheirLinesIn)
{
    KVDocumentLogger logger(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < 200; ++i)
                logger.log(LogMessage{"thread " + std::to_string(t) + " line " + std::to_string(i), "info", std::nullopt});
        });
    for (auto& thread : threads)
        thread.join();
    logger.waitUntilWritten();
    EXPECT_EQ(messagesOf(contents(file)).size(), 1600u);
}

TEST_F(KVDocumentLoggerTest, TokensAreHiddenBeforeTheyAreBuffered)
{
    KVDocumentLogger logger(file);
    logger.log(LogMessage{R"(request {"Authorization": "Token 5f2c-SECRET", "other": 1})", "error", "e1"});
    logger.log(LogMessage{R"(escaped {\"Authorization\": \"Token 5f2c-SECRET\"})", "error", std::nullopt});
    logger.log(LogMessage{"first line\nsecond \"Authorization\": \"Token 5f2c-SECRET\" tail", "info", std::nullopt});
    logger.waitUntilWritten();
    const std::string text = contents(file);
    EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    EXPECT_NE(text.find(R"(request {"Authorization": <hidden>)"), std::string::npos);
    EXPECT_NE(text.find(R"(escaped {\"Authorization\": <hidden>)"), std::string::npos);
    EXPECT_NE(text.find("second \"Authorization\": <hidden>\n"), std::string::npos);
}

TEST_F(KVDocumentLoggerTest, TheCutPassKeepsTheLastMebibyteOfWholeLines)
{
    // Exactly 1 MiB keeps every line; one byte more loses the first.
    std::string exact;
    int count = 0;
    while (exact.size() < KVDocumentLogger::truncSize - 100)
        exact += "line " + std::to_string(count++) + "\n";
    exact += std::string(KVDocumentLogger::truncSize - exact.size() - 1, 'x') + "\n";
    ASSERT_EQ(exact.size(), KVDocumentLogger::truncSize);
    write(file, exact);
    KVDocumentLogger(file).waitUntilWritten();
    EXPECT_EQ(contents(file), exact + "\n");

    write(file, "0" + exact);
    KVDocumentLogger(file).waitUntilWritten();
    EXPECT_EQ(contents(file), exact.substr(exact.find('\n') + 1) + "\n");
}

TEST_F(KVDocumentLoggerTest, TheCutPassHidesOldTokensAndDropsBrokenText)
{
    const std::string longLine(5000, 'y');
    write(file, "keep\n" + longLine + "\nold \"Authorization\": \"Token abc\" and \"Authorization\": \"Token def\"\nbad \xff\xfe\n");
    KVDocumentLogger(file).waitUntilWritten();
    EXPECT_EQ(contents(file), "keep\n" + longLine + "\nold \"Authorization\": <hidden>\n\n\n");
}

TEST_F(KVDocumentLoggerTest, AMissingFileIsMadeByTheFirstWriteOnly)
{
    {
        KVDocumentLogger logger(file);
        logger.waitUntilWritten();
        EXPECT_FALSE(fs::exists(file));
    }
    // Nor is a missing folder made.
    KVDocumentLogger nowhere(temp / "missing" / ".project.log");
    nowhere.log(LogMessage{"lost", "info", std::nullopt});
    nowhere.waitUntilWritten();
    EXPECT_FALSE(fs::exists(temp / "missing"));
}

TEST_F(KVDocumentLoggerTest, ALinkInPlaceOfTheLogIsNeverWrittenThrough)
{
    write(temp / "victim", "precious\n");
    fs::create_symlink(temp / "victim", file);
    KVDocumentLogger logger(file);
    logger.log(LogMessage{"mine", "info", std::nullopt});
    logger.waitUntilWritten();
    EXPECT_EQ(contents(temp / "victim"), "precious\n");
    EXPECT_FALSE(fs::is_symlink(file));
    EXPECT_EQ(messagesOf(contents(file)), (std::vector<std::string>{"mine"}));
}

} // namespace

namespace {

TEST_F(KVDocumentLoggerTest, ABurstReachesTheFileOnItsOwnSoonAfter)
{
    KVDocumentLogger logger(file);
    logger.log(LogMessage{"on its own", "info", std::nullopt});
    EXPECT_TRUE(kxtest::spinUntil([&] { return contents(file).find("on its own") != std::string::npos; }, std::chrono::seconds(5)));
}

} // namespace
