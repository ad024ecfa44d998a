// Crash reports: written by a process that crashes, read back as hostile text, and sent once
// to the stand-in back end's store endpoint.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "App/shell/application/CrashReporter.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/Spin.h"
#include "support/StandInBackend.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::CrashReporter;

namespace {

// A child that installs the reporter (after `before`) and then crashes with `signalNumber`;
// its wait status.
int crashInChild(const fs::path& folder, int signalNumber, void (*before)() = nullptr)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (before)
            before();
        if (!CrashReporter::install(folder, "1.2.3", "42"))
            ::_exit(3);
        if (signalNumber == SIGSEGV) {
            // A real fault: a write to a page that allows none.
            void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            *static_cast<volatile int*>(page) = 1;
        }
        ::raise(signalNumber);
        ::_exit(4);
    }
    return kxtest::waitForChild(child);
}

std::string onlyReport(const fs::path& folder)
{
    const auto reports = CrashReporter::pendingReports(folder);
    EXPECT_EQ(reports.size(), 1u);
    return reports.empty() ? std::string() : kx::FileSystem::readFile(reports.front()).value_or("");
}

constexpr const char* sampleReport = "korvel-x crash report\nversion: 1.0.0\nbuild: 1\nsignal: 11\ncode: 1\naddress: 0x0\n"
                                     "time: 1700000000\nbacktrace:\n"
                                     "/home/ada/Downloads/korvel-x/korvel-x(crashHere+0x12)[0x5555deadbeef]\n"
                                     "/usr/lib/x86_64-linux-gnu/libc.so.6(+0x271ca)[0x7f0011223344]\n"
                                     "not a frame\n";

} // namespace

TEST(CrashReporter, ACrashWritesAReportAndEndsWithItsSignal)
{
    kxtest::TemporaryDirectory folder;
    const int status = crashInChild(folder.path(), SIGSEGV);
    // (The address sanitizer's own handler, which comes after ours, ends the process itself.)
    if (!kxtest::underAddressSanitizer()) {
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    }
    const std::string report = onlyReport(folder.path());
    EXPECT_EQ(report.rfind("korvel-x crash report\nversion: 1.2.3\nbuild: 42\nsignal: 11\ncode: ", 0), 0u) << report;
    EXPECT_NE(report.find("\naddress: 0x"), std::string::npos);
    EXPECT_NE(report.find("backtrace:\n"), std::string::npos);
    EXPECT_NE(report.find("kx_unit_tests"), std::string::npos) << "no frame of the program";
    // Nothing of the arguments or the environment.
    EXPECT_EQ(report.find("--gtest"), std::string::npos);
    EXPECT_EQ(report.find("PATH="), std::string::npos);
    EXPECT_EQ(fs::status(CrashReporter::pendingReports(folder.path()).front()).permissions() & fs::perms::others_read, fs::perms::none);
    EXPECT_TRUE(CrashReporter::event(report).isSuccess());
}

namespace {
void abortHandlerThatExits(int)
{
    ::_exit(42);
}
void installEarlierHandler()
{
    ::signal(SIGABRT, abortHandlerThatExits);
}
} // namespace

TEST(CrashReporter, TheHandlerThatWasThereBeforeStillRuns)
{
    kxtest::TemporaryDirectory folder;
    const int status = crashInChild(folder.path(), SIGABRT, installEarlierHandler);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42);
    EXPECT_NE(onlyReport(folder.path()).find("signal: 6\n"), std::string::npos);
}

TEST(CrashReporter, AReportBecomesTheServicesEventWithoutTheUsersFolders)
{
    auto event = CrashReporter::event(sampleReport);
    ASSERT_TRUE(event.isSuccess()) << event.error().localizedFailureReason;
    const auto& json = event.value();
    EXPECT_EQ(json["event_id"].get<std::string>().size(), 32u);
    EXPECT_EQ(json["level"], "fatal");
    EXPECT_EQ(json["release"], "korvel-x@1.0.0");
    EXPECT_EQ(json["dist"], "1");
    EXPECT_EQ(json["timestamp"], 1700000000);
    const auto& exception = json["exception"]["values"][0];
    EXPECT_EQ(exception["type"], "SIGSEGV");
    EXPECT_EQ(exception["mechanism"]["meta"]["signal"]["number"], 11);
    const auto& frames = exception["stacktrace"]["frames"];
    ASSERT_EQ(frames.size(), 2u);
    // Outermost first, libraries by name only.
    EXPECT_EQ(frames[0]["package"], "libc.so.6");
    EXPECT_EQ(frames[1]["package"], "korvel-x");
    EXPECT_EQ(frames[1]["function"], "crashHere");
    EXPECT_EQ(frames[1]["instruction_addr"], "0x5555deadbeef");
    EXPECT_EQ(json.dump().find("/home/ada"), std::string::npos);
}

TEST(CrashReporter, TextThatIsNoReportIsRefused)
{
    const std::string report = sampleReport;
    for (const std::string& text : {std::string(), std::string("hello"), std::string("korvel-x crash report\n"),
                                    report.substr(0, report.find("time:")), // no time
                                    std::string("korvel-x crash report\nsignal: 99\ncode: 0\ntime: 1\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: x\ntime: 1\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: 0\ntime: 1\nno colon\n"),
                                    report + std::string("\x01\x02\n", 3),
                                    report + std::string(CrashReporter::maximumReportSize, 'a')})
        EXPECT_TRUE(CrashReporter::event(text).isFailure()) << text.substr(0, 80);
}

TEST(CrashReporter, TheAddressOfTheServiceComesFromItsDSN)
{
    auto dsn = CrashReporter::DSN::parse("https://4c1e9a07d35b28f6e0a7c9d21b48f3e5@reports.example.com/17");
    ASSERT_TRUE(dsn);
    EXPECT_EQ(dsn->publicKey, "4c1e9a07d35b28f6e0a7c9d21b48f3e5");
    EXPECT_EQ(dsn->storeURL, "https://reports.example.com/api/17/store/");
    dsn = CrashReporter::DSN::parse("http://abc@127.0.0.1:4780/sub/1");
    ASSERT_TRUE(dsn);
    EXPECT_EQ(dsn->storeURL, "http://127.0.0.1:4780/sub/api/1/store/");
    for (const char* bad : {"", "not a url", "https://reports.example.com/17", "http://abc@reports.example.com/17",
                            "https://abc@reports.example.com/", "https://abc@reports.example.com/x",
                            "ftp://abc@host/1", "https://abc@host/1?q=1"})
        EXPECT_FALSE(CrashReporter::DSN::parse(bad)) << bad;
}

TEST(CrashReporter, PendingReportsAreSentOnceAndDeletedWhenTaken)
{
    kxtest::StandInBackend backend;
    ASSERT_TRUE(backend.start());
    kxtest::TemporaryDirectory folder;
    crashInChild(folder.path(), SIGSEGV);
    kx::FileSystem::atomicWrite(folder / "crash-1-1.report", "garbage");
    kx::FileSystem::atomicWrite(folder / ".crash-2-2.partial", "half");
    ASSERT_EQ(CrashReporter::pendingReports(folder.path()).size(), 2u);

    const auto host = backend.url().substr(7, backend.url().size() - 8);
    const auto dsn = CrashReporter::DSN::parse("http://4c1e9a07d35b28f6e0a7c9d21b48f3e5@" + host + "/1");
    ASSERT_TRUE(dsn);
    std::optional<std::size_t> sent;
    CrashReporter::sendPendingReports(folder.path(), *dsn, "korvel-x/test", [&](std::size_t count) { sent = count; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return sent.has_value(); }));
    EXPECT_EQ(*sent, 1u);
    const auto recorded = backend.recorded("crash");
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0]["key"], "4c1e9a07d35b28f6e0a7c9d21b48f3e5");
    EXPECT_EQ(recorded[0]["event"]["exception"]["values"][0]["type"], "SIGSEGV");
    // The sent one and the garbage are gone; a report still being written is not touched.
    EXPECT_TRUE(CrashReporter::pendingReports(folder.path()).empty());
    EXPECT_TRUE(fs::exists(folder / ".crash-2-2.partial"));

    sent.reset();
    CrashReporter::sendPendingReports(folder.path(), *dsn, "korvel-x/test", [&](std::size_t count) { sent = count; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return sent.has_value(); }));
    EXPECT_EQ(backend.recorded("crash").size(), 1u);
}

TEST(CrashReporter, AReportTheServiceRefusesIsKeptForTheNextLaunch)
{
    kxtest::StandInBackend backend;
    ASSERT_TRUE(backend.start());
    kxtest::TemporaryDirectory folder;
    kx::FileSystem::atomicWrite(folder / "crash-5-5.report", sampleReport);
    const auto host = backend.url().substr(7, backend.url().size() - 8);
    // The stand-in refuses a store URL of no project.
    CrashReporter::DSN wrong{"4c1e9a07d35b28f6e0a7c9d21b48f3e5", "http://" + host + "/api/x/store/"};
    std::optional<std::size_t> sent;
    CrashReporter::sendPendingReports(folder.path(), wrong, "korvel-x/test", [&](std::size_t count) { sent = count; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return sent.has_value(); }));
    EXPECT_EQ(*sent, 0u);
    EXPECT_EQ(CrashReporter::pendingReports(folder.path()).size(), 1u);
}
