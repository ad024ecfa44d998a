#include "Platform/Foundation/Process.h"

#include <csignal>

#include <gtest/gtest.h>

#include "support/Spin.h"

namespace {

using kx::Process;

struct ChildRun {
    std::vector<std::string> lines;
    std::optional<std::pair<Process::TerminationReason, int>> end;
    size_t linesAtEnd = 0;
};

std::unique_ptr<Process> shell(const std::string& script, ChildRun& run, std::map<std::string, std::string> environment = {})
{
    auto process = std::make_unique<Process>(Process::Configuration{{"/bin/sh", "-c", script}, std::move(environment), {}});
    process->standardOutputHandler = [&run](const std::string& line) { run.lines.push_back(line); };
    process->terminationHandler = [&run](Process::TerminationReason reason, int status) {
        run.end = {reason, status};
        run.linesAtEnd = run.lines.size();
    };
    return process;
}

TEST(Process, DeliversEveryLineBeforeItsEnd)
{
    ChildRun run;
    auto process = shell("printf 'one\\ntwo\\r\\n\\n'; echo \"$KX_GREETING\"; printf 'no newline'; exit 3", run,
                         {{"KX_GREETING", "hello there"}});
    ASSERT_TRUE(process->launch().isSuccess());
    ASSERT_TRUE(kxtest::spinUntil([&] { return run.end.has_value(); }));
    EXPECT_EQ(run.lines, (std::vector<std::string>{"one", "two", "", "hello there", "no newline"}));
    EXPECT_EQ(run.linesAtEnd, run.lines.size());
    EXPECT_EQ(run.end->first, Process::TerminationReason::exit);
    EXPECT_EQ(run.end->second, 3);
    EXPECT_FALSE(process->isRunning());
    EXPECT_FALSE(process->launch().isSuccess()); // once only
}

TEST(Process, WritesStandardInputAndEndsWhenItCloses)
{
    ChildRun run;
    auto process = shell("cat", run);
    ASSERT_TRUE(process->launch().isSuccess());
    EXPECT_GT(process->processIdentifier(), 0);
    EXPECT_TRUE(process->write("first\nsecond\n"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return run.lines.size() == 2; }));
    process->closeStandardInput();
    EXPECT_FALSE(process->write("late\n"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return run.end.has_value(); }));
    EXPECT_EQ(run.end->second, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"first", "second"}));
}

TEST(Process, ReportsTheSignalThatEndedIt)
{
    ChildRun run;
    auto process = shell("echo ready; exec sleep 60", run);
    ASSERT_TRUE(process->launch().isSuccess());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !run.lines.empty(); }));
    EXPECT_TRUE(process->isRunning());
    process->terminate();
    ASSERT_TRUE(kxtest::spinUntil([&] { return run.end.has_value(); }));
    EXPECT_EQ(run.end->first, Process::TerminationReason::uncaughtSignal);
    EXPECT_EQ(run.end->second, SIGTERM);
}

TEST(Process, AGrandchildHoldingThePipeDoesNotHideTheEnd)
{
    ChildRun run;
    // The grandchild keeps our pipe, not the test runner's standard error.
    auto process = shell("sleep 30 2>/dev/null & echo $!; exit 0", run);
    ASSERT_TRUE(process->launch().isSuccess());
    ASSERT_TRUE(kxtest::spinUntil([&] { return run.end.has_value(); }));
    ASSERT_EQ(run.lines.size(), 1u);
    ::kill(std::stoi(run.lines[0]), SIGTERM);
}

TEST(Process, DestroyingItEndsTheChildAndCallsNothing)
{
    ChildRun run;
    auto process = shell("echo ready; exec sleep 60", run);
    ASSERT_TRUE(process->launch().isSuccess());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !run.lines.empty(); }));
    int pid = process->processIdentifier();
    process.reset();
    EXPECT_TRUE(kxtest::spinUntil([&] { return ::kill(pid, 0) != 0; }));
    kxtest::spinFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(run.end.has_value());
}

TEST(Process, AMissingProgramFailsToLaunch)
{
    Process process({{"/nonexistent/program"}, {}, {}});
    auto launched = process.launch();
    ASSERT_TRUE(launched.isFailure());
    EXPECT_NE(launched.error().localizedDescription.find("/nonexistent/program"), std::string::npos);
    EXPECT_FALSE(process.isRunning());
    EXPECT_FALSE(process.write("x"));
    EXPECT_TRUE(Process({}).launch().isFailure());
}

} // namespace
