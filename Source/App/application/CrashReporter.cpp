#include "App/application/CrashReporter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/account/AppServices.h"
#include "App/application/LoadedModules.h"
#include "Platform/Foundation/AlternateSignalStack.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

// Everything the handler needs is prepared here at installation: a handler may only call
// async-signal-safe functions, so it neither allocates nor formats with the C library.
constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr std::size_t alternateStackSize = 256 * 1024;
constexpr int maximumCapturedFrames = 128;

struct sigaction previousActions[NSIG];
char folderPath[PATH_MAX / 2];
char reportHeader[512];
std::size_t reportHeaderLength = 0;
std::atomic<bool> installed{false};
std::atomic<bool> handling{false};

struct Buffer {
    char text[PATH_MAX];
    std::size_t length = 0;

    void append(const char* s)
    {
        while (*s && length + 1 < sizeof(text))
            text[length++] = *s++;
        text[length] = '\0';
    }
    void appendHexBytes(const unsigned char* bytes, std::size_t size)
    {
        for (std::size_t i = 0; i < size && length + 2 < sizeof(text); ++i) {
            text[length++] = hexDigit(bytes[i] >> 4);
            text[length++] = hexDigit(bytes[i]);
        }
        text[length] = '\0';
    }
    // `base` at most 16.
    void appendNumber(unsigned long long value, unsigned base = 10)
    {
        char digits[32];
        int count = 0;
        do {
            digits[count++] = hexDigit(unsigned(value % base));
            value /= base;
        } while (value && count < int(sizeof(digits)));
        while (count > 0 && length + 1 < sizeof(text))
            text[length++] = digits[--count];
        text[length] = '\0';
    }
};

// The report goes to a hidden name first and is renamed when complete, so the next launch
// never reads half a report.
void writeReport(int signalNumber, const siginfo_t* info)
{
    struct timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Buffer name;
    name.append(folderPath);
    name.append("/.");
    name.append(CrashReporter::reportPrefix);
    name.appendNumber(static_cast<unsigned long long>(now.tv_sec));
    name.append("-");
    name.appendNumber(static_cast<unsigned long long>(::getpid()));
    Buffer finalName;
    finalName.append(folderPath);
    finalName.append("/");
    finalName.append(name.text + std::strlen(folderPath) + 2);
    finalName.append(CrashReporter::reportExtension);
    name.append(".partial");

    const int fd = ::open(name.text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, reportHeader, reportHeaderLength);
    Buffer facts;
    facts.append("signal: ");
    facts.appendNumber(unsigned(signalNumber));
    facts.append("\ncode: ");
    const int code = info ? info->si_code : 0;
    if (code < 0) {
        facts.append("-");
        facts.appendNumber(static_cast<unsigned long long>(-static_cast<long long>(code)));
    } else {
        facts.appendNumber(unsigned(code));
    }
    if (info && code > 0) {
        facts.append("\naddress: 0x");
        facts.appendNumber(reinterpret_cast<unsigned long long>(info->si_addr), 16);
    }
    facts.append("\ntime: ");
    facts.appendNumber(static_cast<unsigned long long>(now.tv_sec));
    facts.append("\n");
    writeAll(fd, facts.text, facts.length);

    // Each frame as its module's index and the offset into that module's file (which the
    // module's build id names), so that the report can be symbolicated; an address outside
    // every module stays absolute. Only the modules that frames lie in are listed.
    void* frames[maximumCapturedFrames];
    const int count = ::backtrace(frames, maximumCapturedFrames);
    const LoadedModules::Reading modules = LoadedModules::current();
    long moduleOfFrame[maximumCapturedFrames];
    bool listed[LoadedModules::maximumModules] = {};
    for (int i = 0; i < count; ++i) {
        moduleOfFrame[i] = modules.indexOf(reinterpret_cast<std::uintptr_t>(frames[i]));
        if (moduleOfFrame[i] >= 0)
            listed[moduleOfFrame[i]] = true;
    }
    for (std::size_t index = 0; index < modules.count; ++index) {
        if (!listed[index])
            continue;
        const LoadedModules::Module& module = modules.modules[index];
        Buffer line;
        line.append("module: ");
        line.appendNumber(index);
        line.append(" ");
        if (module.buildIdSize)
            line.appendHexBytes(module.buildId, module.buildIdSize);
        else
            line.append("-");
        line.append(" 0x");
        line.appendNumber(module.bias, 16);
        line.append(" 0x");
        line.appendNumber(module.end - module.bias, 16);
        line.append(" ");
        line.append(module.path);
        line.append("\n");
        writeAll(fd, line.text, line.length);
    }
    writeAll(fd, "backtrace:\n", 11);
    for (int i = 0; i < count; ++i) {
        const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
        Buffer line;
        if (moduleOfFrame[i] >= 0) {
            line.appendNumber(static_cast<unsigned long long>(moduleOfFrame[i]));
            line.append(" 0x");
            line.appendNumber(address - modules.modules[moduleOfFrame[i]].bias, 16);
        } else {
            line.append("- 0x");
            line.appendNumber(address, 16);
        }
        line.append("\n");
        writeAll(fd, line.text, line.length);
    }
    ::fsync(fd);
    ::close(fd);
    ::rename(name.text, finalName.text);
}

void handleSignal(int signalNumber, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    if (!handling.exchange(true))
        writeReport(signalNumber, info);
    const struct sigaction& previous = previousActions[signalNumber];
    const bool previousIsFunction = (previous.sa_flags & SA_SIGINFO)
        ? previous.sa_sigaction != nullptr
        : previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr;
    if (previousIsFunction) {
        // The earlier handler decides; if it returns, the process may go on.
        if (previous.sa_flags & SA_SIGINFO)
            previous.sa_sigaction(signalNumber, info, context);
        else
            previous.sa_handler(signalNumber);
        handling = false;
        errno = savedErrno;
        return;
    }
    // The default action: pending until this handler returns (a fault would also recur).
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signalNumber, &fallback, nullptr);
    ::raise(signalNumber);
    errno = savedErrno;
}

// Version texts go into the report as single printable lines.
std::string reportLine(const std::string& text)
{
    std::string line;
    for (char c : text.substr(0, 64)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
            line += c;
    }
    return line;
}

} // namespace

std::filesystem::path CrashReporter::reportsFolder()
{
    return FileSystem::cacheHome() / AppInfo::current()->bundle().bundleIdentifier() / "CrashReports";
}

bool CrashReporter::install(const std::filesystem::path& folder, const std::string& version, const std::string& build)
{
    if (installed.load())
        return true;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    const std::string path = folder.string();
    if (error || path.size() + 64 >= sizeof(folderPath) || !std::filesystem::is_directory(folder))
        return false;
    std::memcpy(folderPath, path.c_str(), path.size() + 1);
    const std::string header = "korvel-x crash report\nversion: " + reportLine(version) + "\nbuild: " + reportLine(build) + "\n";
    std::memcpy(reportHeader, header.c_str(), header.size() + 1);
    reportHeaderLength = header.size();

    // backtrace() loads its unwinder on first use: done now, not inside a crash.
    void* warmUp[2];
    ::backtrace(warmUp, 2);

    // The modules as they are now (`start` reads them again as more are loaded).
    LoadedModules::refresh();
    // This thread's alternate stack, for good; every thread we start makes its own.
    static const std::unique_ptr<AlternateSignalStack> installingThreadStack =
        std::make_unique<AlternateSignalStack>(alternateStackSize);
    for (int signalNumber : fatalSignals) {
        struct sigaction action{};
        action.sa_sigaction = handleSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, &previousActions[signalNumber]);
    }
    installed = true;
    return true;
}

void CrashReporter::start()
{
    const auto info = AppInfo::current();
    const std::filesystem::path folder = reportsFolder();
    if (!install(folder, info->shortVersion(), info->bundle().stringForInfoKey("CFBundleVersion").value_or("")))
        RKLog("Crash reports are off: " + folder.string() + " cannot be made", RKLogKind::general);
    // Libraries loaded later (input methods, GIO and image modules) join the list.
    static const auto moduleRefresh = MainQueue::repeating(std::chrono::seconds(60), [] { LoadedModules::refresh(); });
    (void)moduleRefresh;
    const auto dsnText = AppServices::crashReportingDSN();
    const auto dsn = dsnText ? DSN::parse(*dsnText) : std::nullopt;
    if (!dsn) {
        if (dsnText)
            RKLog("Crash reports are not sent: the crash-reporting address is not valid", RKLogKind::general);
        return;
    }
    sendPendingReports(folder, *dsn, "korvel-x/" + info->shortVersion());
}

} // namespace kx
