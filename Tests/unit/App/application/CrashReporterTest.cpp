// Crash reports: written by a process that crashes, its frames checked against the ELF files
// that ran, read back as hostile text, and sent once to the stand-in back end's store endpoint.
#include <gtest/gtest.h>

#include <elf.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>

#include "App/application/CrashReporter.h"
#include "Platform/Foundation/AlternateSignalStack.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/Spin.h"
#include "support/StandInBackend.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::CrashReporter;

extern "C" void kxCrashInKnownFunction(volatile int* page);

namespace {

// A child that installs the reporter (after `before`) and then crashes with `signalNumber`;
// its wait status.
int crashInChild(const fs::path& folder, int signalNumber, void (*before)() = nullptr, bool inKnownFunction = false)
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
            if (inKnownFunction)
                kxCrashInKnownFunction(static_cast<volatile int*>(page));
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
                                     "time: 1700000000\n"
                                     "module: 0 0123456789abcdef0123456789abcdef01234567 0x555500000000 0x4000 /home/ada/Downloads/korvel-x/korvel-x\n"
                                     "module: 3 - 0x7f0011000000 0x200000 /usr/lib/x86_64-linux-gnu/libc.so.6\n"
                                     "backtrace:\n"
                                     "0 0x1234\n"
                                     "3 0x271ca\n"
                                     "- 0x7ffdeadbeef0\n"
                                     "7 0x10\n"
                                     "not a frame\n";

// A report of an earlier version: symbolic lines and absolute addresses.
constexpr const char* earlierReport = "korvel-x crash report\nversion: 1.0.0\nbuild: 1\nsignal: 11\ncode: 1\n"
                                      "time: 1700000000\nbacktrace:\n"
                                      "/home/ada/Downloads/korvel-x/korvel-x(crashHere+0x12)[0x5555deadbeef]\n";

// What a test needs of an ELF file, read from the file with its section headers (the
// reporter reads the program headers in memory): the GNU build id and a symbol's extent.
class ElfFile {
public:
    explicit ElfFile(const fs::path& path)
        : bytes_(kx::FileSystem::readFile(path).value_or(""))
    {
        if (bytes_.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes_.data(), ELFMAG, SELFMAG) != 0
            || bytes_[EI_CLASS] != ELFCLASS64)
            bytes_.clear();
    }
    bool valid() const { return !bytes_.empty(); }

    std::string buildId() const
    {
        for (const auto& section : sections()) {
            if (section.sh_type != SHT_NOTE)
                continue;
            const std::size_t alignment = section.sh_addralign == 8 ? 8 : 4;
            std::size_t at = section.sh_offset;
            while (at + sizeof(Elf64_Nhdr) <= section.sh_offset + section.sh_size) {
                Elf64_Nhdr note;
                std::memcpy(&note, bytes_.data() + at, sizeof note);
                const std::size_t name = at + sizeof note;
                const std::size_t descriptor = align(name + note.n_namesz, alignment);
                if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(bytes_.data() + name, "GNU", 4) == 0) {
                    std::string hex;
                    for (std::size_t i = 0; i < note.n_descsz; ++i) {
                        char digits[3];
                        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes_[descriptor + i]));
                        hex += digits;
                    }
                    return hex;
                }
                at = align(descriptor + note.n_descsz, alignment);
            }
        }
        return {};
    }

    // [value, value + size) of the named symbol of the static symbol table.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> symbol(const std::string& wanted) const
    {
        const auto all = sections();
        for (const auto& section : all) {
            if (section.sh_type != SHT_SYMTAB || section.sh_link >= all.size())
                continue;
            const auto& names = all[section.sh_link];
            for (std::size_t at = section.sh_offset; at + sizeof(Elf64_Sym) <= section.sh_offset + section.sh_size; at += sizeof(Elf64_Sym)) {
                Elf64_Sym symbol;
                std::memcpy(&symbol, bytes_.data() + at, sizeof symbol);
                if (symbol.st_name < names.sh_size && wanted == bytes_.c_str() + names.sh_offset + symbol.st_name)
                    return std::make_pair(symbol.st_value, symbol.st_value + symbol.st_size);
            }
        }
        return std::nullopt;
    }

private:
    static std::size_t align(std::size_t value, std::size_t alignment) { return (value + alignment - 1) / alignment * alignment; }
    std::vector<Elf64_Shdr> sections() const
    {
        std::vector<Elf64_Shdr> result;
        if (!valid())
            return result;
        Elf64_Ehdr header;
        std::memcpy(&header, bytes_.data(), sizeof header);
        for (unsigned i = 0; i < header.e_shnum; ++i) {
            const std::size_t at = header.e_shoff + std::size_t(i) * header.e_shentsize;
            if (at + sizeof(Elf64_Shdr) > bytes_.size())
                break;
            Elf64_Shdr section;
            std::memcpy(&section, bytes_.data() + at, sizeof section);
            result.push_back(section);
        }
        return result;
    }

    std::string bytes_;
};

// A written report's modules (index -> build id and path) and frames (module index or -1,
// offset or address).
struct ParsedReport {
    std::map<long, std::pair<std::string, std::string>> modules;
    std::vector<std::pair<long, std::uint64_t>> frames;

    explicit ParsedReport(const std::string& text)
    {
        std::istringstream lines(text);
        std::string line;
        bool inBacktrace = false;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            if (inBacktrace) {
                std::string module, address;
                words >> module >> address;
                frames.emplace_back(module == "-" ? -1 : std::stol(module), std::stoull(address, nullptr, 16));
            } else if (line == "backtrace:") {
                inBacktrace = true;
            } else if (line.rfind("module: ", 0) == 0) {
                std::string key, index, buildId, bias, size;
                words >> key >> index >> buildId >> bias >> size;
                std::string path;
                std::getline(words, path);
                modules[std::stol(index)] = {buildId, path.substr(1)};
            }
        }
    }
};

} // namespace

extern "C" __attribute__((noinline, used)) void kxCrashInKnownFunction(volatile int* page)
{
    *page = 1;
}

namespace {

__attribute__((noinline)) int recurseWithoutEnd(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    if (depth < 0)
        return 0;
    return recurseWithoutEnd(depth + 1) + frame[0];
}

// A child that installs the reporter and overflows the stack of `thread`'s thread; its wait
// status.
template <class StartThread>
int overflowInChild(const fs::path& folder, StartThread startThread)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (!CrashReporter::install(folder, "1.2.3", "42"))
            ::_exit(3);
        startThread([] { recurseWithoutEnd(0); }).join();
        ::_exit(4);
    }
    return kxtest::waitForChild(child);
}

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
    EXPECT_NE(report.find("kx_unit_tests"), std::string::npos) << "no module of the program";
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

TEST(CrashReporter, FramesAreOffsetsIntoTheFilesThatRanNamedByTheirBuildIds)
{
    kxtest::TemporaryDirectory folder;
    const int status = crashInChild(folder.path(), SIGSEGV, nullptr, true);
    if (!kxtest::underAddressSanitizer()) {
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
    }
    const ParsedReport report(onlyReport(folder.path()));
    ASSERT_FALSE(report.modules.empty());
    const fs::path program = fs::read_symlink("/proc/self/exe");
    long programIndex = -1;
    for (const auto& [index, module] : report.modules) {
        const auto& [buildId, path] = module;
        if (path == program.string())
            programIndex = index;
        const ElfFile file(path);
        if (!file.valid()) // the kernel's vDSO has no file
            continue;
        EXPECT_FALSE(buildId.empty()) << path;
        EXPECT_EQ(buildId == "-" ? std::string() : buildId, file.buildId()) << path;
    }
    ASSERT_NE(programIndex, -1) << "no frame of the program";
    // The faulting instruction lies inside the function that faulted, read from the program's
    // own symbol table.
    const auto extent = ElfFile(program).symbol("kxCrashInKnownFunction");
    ASSERT_TRUE(extent);
    bool found = false;
    for (const auto& [module, offset] : report.frames)
        found = found || (module == programIndex && offset >= extent->first && offset < extent->second);
    EXPECT_TRUE(found) << "no frame in kxCrashInKnownFunction [" << extent->first << ", " << extent->second << ")";
    // Every frame's module is listed.
    for (const auto& [module, offset] : report.frames)
        EXPECT_TRUE(module == -1 || report.modules.count(module)) << module;
}

TEST(CrashReporter, AStackOverflowIsReportedOnTheThreadsWeStart)
{
    if (kxtest::underAddressSanitizer())
        GTEST_SKIP() << "the address sanitizer gives every thread an alternate stack of its own";
    kxtest::TemporaryDirectory ours;
    const int status = overflowInChild(ours.path(), [](auto body) { return kx::startThread(std::move(body)); });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_NE(onlyReport(ours.path()).find("signal: 11\n"), std::string::npos);
    // A thread without one dies of its overflow unreported: what the alternate stack is for.
    kxtest::TemporaryDirectory bare;
    overflowInChild(bare.path(), [](auto body) { return std::thread(std::move(body)); });
    EXPECT_TRUE(CrashReporter::pendingReports(bare.path()).empty());
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
    // Outermost first; a frame of a module the report does not list is dropped.
    const auto& frames = exception["stacktrace"]["frames"];
    ASSERT_EQ(frames.size(), 3u) << frames.dump();
    EXPECT_EQ(frames[0], (nlohmann::json{{"instruction_addr", "0x7ffdeadbeef0"}}));
    EXPECT_EQ(frames[1], (nlohmann::json{{"instruction_addr", "0x271ca"}, {"addr_mode", "rel:1"}, {"package", "libc.so.6"}}));
    EXPECT_EQ(frames[2], (nlohmann::json{{"instruction_addr", "0x1234"}, {"addr_mode", "rel:0"}, {"package", "korvel-x"}}));
    // Each module by its file's name and build id.
    const auto& images = json["debug_meta"]["images"];
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0]["type"], "elf");
    EXPECT_EQ(images[0]["code_file"], "korvel-x");
    EXPECT_EQ(images[0]["code_id"], "0123456789abcdef0123456789abcdef01234567");
    EXPECT_EQ(images[0]["debug_id"], "67452301-ab89-efcd-0123-456789abcdef");
    EXPECT_EQ(images[0]["image_addr"], "0x555500000000");
    EXPECT_EQ(images[0]["image_size"], 0x4000);
    EXPECT_EQ(images[1]["code_file"], "libc.so.6");
    EXPECT_FALSE(images[1].contains("code_id"));
    EXPECT_EQ(json.dump().find("/home/ada"), std::string::npos);

    // An earlier version's report is still sent, by its symbols.
    event = CrashReporter::event(earlierReport);
    ASSERT_TRUE(event.isSuccess());
    const auto& earlier = event.value()["exception"]["values"][0]["stacktrace"]["frames"][0];
    EXPECT_EQ(earlier["package"], "korvel-x");
    EXPECT_EQ(earlier["function"], "crashHere");
    EXPECT_EQ(event.value().dump().find("/home/ada"), std::string::npos);
}

TEST(CrashReporter, TextThatIsNoReportIsRefused)
{
    const std::string report = sampleReport;
    for (const std::string& text : {std::string(), std::string("hello"), std::string("korvel-x crash report\n"),
                                    report.substr(0, report.find("time:")), // no time
                                    std::string("korvel-x crash report\nsignal: 99\ncode: 0\ntime: 1\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: x\ntime: 1\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: 0\ntime: 1\nno colon\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: 0\ntime: 1\nmodule: x - 0x0 0x1 /a\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: 0\ntime: 1\nmodule: 1 xyz 0x0 0x1 /a\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: 0\ntime: 1\nmodule: 1 - 0x0 0x1\n"),
                                    std::string("korvel-x crash report\nsignal: 11\ncode: 0\ntime: 1\nmodule: 1 - 0x0 0x1 /a\nmodule: 1 - 0x0 0x1 /b\n"),
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
