// Crash reports of the application process. `install` sets handlers for the fatal signals (on
// an alternate stack, so that a stack overflow is reported too: the installing thread's is
// made here, every thread we start has its own, see AlternateSignalStack): a crash writes a
// small report (signal, version and build, the backtrace as offsets into modules with each
// module's build id; never arguments or the environment) into the reports folder with
// async-signal-safe calls only, then hands the signal to the handler that was there before,
// or ends the process with the signal's default action. The modules and their build ids are
// read at installation and whenever libraries were loaded since (LoadedModules), never in
// the handler. At the next launch `sendPendingReports` sends each report to the
// crash-reporting service's store endpoint and deletes it once the service has taken it.
//
// A report's text:
//   korvel-x crash report
//   version: <short version>            build: <build version>       (one line each)
//   signal: <number>   code: <si_code>   [address: 0x<fault address>]   time: <seconds>
//   module: <index> <build id in hex, or -> 0x<load bias> 0x<extent> <path>   (per module)
//   backtrace:
//   <module index> 0x<offset in its file>   or   - 0x<address>           (innermost first)
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class CrashReporter {
public:
    // "<scheme>://<public key>@<host>[/<path>]/<project>" taken apart.
    struct DSN {
        std::string publicKey;
        std::string storeURL; // "<scheme>://<host>[/<path>]/api/<project>/store/"
        static std::optional<DSN> parse(const std::string& text);
    };

    static constexpr const char* reportPrefix = "crash-";
    static constexpr const char* reportExtension = ".report";
    static constexpr std::size_t maximumReportSize = 256 * 1024;
    // Reports beyond this many (the oldest) are deleted unsent.
    static constexpr std::size_t maximumPendingReports = 5;

    // $XDG_CACHE_HOME/<bundle identifier>/CrashReports
    static std::filesystem::path reportsFolder();

    // Sets the handlers once per process (later calls do nothing); false when the folder
    // cannot be made. Signals: SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS.
    static bool install(const std::filesystem::path& folder, const std::string& version, const std::string& build);

    // The reports waiting in `folder`, oldest first.
    static std::vector<std::filesystem::path> pendingReports(const std::filesystem::path& folder);
    // A report's text as the service's event, or an error for text that is no report.
    static Result<nlohmann::json, Error> event(const std::string& reportText);

    // Sends each pending report (after deleting all but the newest few); `completion`, when
    // given, runs once every report has been answered, with the number the service took.
    static void sendPendingReports(const std::filesystem::path& folder, const DSN& dsn, const std::string& clientName,
                                   std::function<void(std::size_t sent)> completion = nullptr);

    // What the application does at launch: install, then send what an earlier run left.
    static void start();
};

} // namespace kx
