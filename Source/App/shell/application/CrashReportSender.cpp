// The sending half of CrashReporter: reports left by an earlier run, read as hostile text,
// turned into the service's events and sent; a report is deleted once the service took it.
#include "App/shell/application/CrashReporter.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/HttpSession.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumSentFrames = 256;
constexpr std::size_t maximumLine = 4096;

Error reportError(const std::string& why)
{
    return Error("KXCrashReportErrorDomain", 1, "Not a crash report", why);
}

bool isPrintable(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f; });
}

bool isLoopback(const char* host)
{
    return g_strcmp0(host, "127.0.0.1") == 0 || g_strcmp0(host, "localhost") == 0 || g_strcmp0(host, "::1") == 0;
}

std::optional<long long> number(const std::string& text)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size() || !std::all_of(text.begin() + long(start), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    try {
        return std::stoll(text);
    } catch (...) {
        return std::nullopt;
    }
}

const char* signalName(long long signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    default: return nullptr;
    }
}

// "/usr/lib/libfoo.so(symbol+0x12) [0x7f00]" as a frame; the library's folder stays out (it
// may name the user's home).
std::optional<nlohmann::json> frame(const std::string& line)
{
    const auto open = line.rfind('[');
    const auto close = line.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return std::nullopt;
    const std::string address = line.substr(open + 1, close - open - 1);
    if (address.size() < 3 || address.size() > 18 || address.compare(0, 2, "0x") != 0
        || !std::all_of(address.begin() + 2, address.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    nlohmann::json entry = {{"instruction_addr", address}};
    std::string module = line.substr(0, open);
    std::string function;
    if (const auto paren = module.find('('); paren != std::string::npos) {
        const auto end = module.rfind(')');
        if (end != std::string::npos && end > paren) {
            function = module.substr(paren + 1, end - paren - 1);
            if (const auto plus = function.rfind('+'); plus != std::string::npos)
                function.resize(plus);
        }
        module.resize(paren);
    }
    while (!module.empty() && module.back() == ' ')
        module.pop_back();
    if (!module.empty())
        entry["package"] = fs::path(module).filename().string();
    if (!function.empty())
        entry["function"] = function;
    return entry;
}

} // namespace

std::optional<CrashReporter::DSN> CrashReporter::DSN::parse(const std::string& text)
{
    GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return std::nullopt;
    std::optional<DSN> dsn;
    const char* scheme = g_uri_get_scheme(uri);
    const char* user = g_uri_get_user(uri);
    const char* host = g_uri_get_host(uri);
    const std::string path = g_uri_get_path(uri);
    const auto slash = path.rfind('/');
    const bool secure = g_strcmp0(scheme, "https") == 0 || (g_strcmp0(scheme, "http") == 0 && isLoopback(host));
    if (secure && user && *user && host && *host && slash != std::string::npos && !g_uri_get_query(uri)) {
        const std::string project = path.substr(slash + 1);
        const std::string key = user;
        if (number(project) && project[0] != '-' && isPrintable(key) && key.find_first_of("/?#@ ") == std::string::npos) {
            const int port = g_uri_get_port(uri);
            std::string hostPart = std::strchr(host, ':') ? "[" + std::string(host) + "]" : std::string(host);
            if (port > 0)
                hostPart += ":" + std::to_string(port);
            dsn = DSN{key, std::string(scheme) + "://" + hostPart + path.substr(0, slash) + "/api/" + project + "/store/"};
        }
    }
    g_uri_unref(uri);
    return dsn;
}

std::vector<fs::path> CrashReporter::pendingReports(const fs::path& folder)
{
    std::vector<std::pair<fs::file_time_type, fs::path>> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(reportPrefix, 0) != 0 || !name.ends_with(reportExtension))
            continue;
        std::error_code statError;
        if (!it->is_regular_file(statError) || it->is_symlink(statError))
            continue;
        found.emplace_back(it->last_write_time(statError), it->path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> reports;
    for (auto& [time, path] : found)
        reports.push_back(std::move(path));
    return reports;
}

Result<nlohmann::json, Error> CrashReporter::event(const std::string& reportText)
{
    using R = Result<nlohmann::json, Error>;
    if (reportText.size() > maximumReportSize)
        return R::failure(reportError("The report is too large."));
    std::istringstream lines(reportText);
    std::string line;
    if (!std::getline(lines, line) || line != "korvel-x crash report")
        return R::failure(reportError("The report has no header."));
    std::map<std::string, std::string> facts;
    nlohmann::json frames = nlohmann::json::array();
    bool inBacktrace = false;
    while (std::getline(lines, line)) {
        if (line.size() > maximumLine || !isPrintable(line))
            return R::failure(reportError("The report holds a line that is not text."));
        if (inBacktrace) {
            if (frames.size() < maximumSentFrames) {
                if (auto entry = frame(line))
                    frames.push_back(std::move(*entry));
            }
            continue;
        }
        if (line == "backtrace:") {
            inBacktrace = true;
            continue;
        }
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            return R::failure(reportError("The report holds a line that is no fact."));
        facts[line.substr(0, colon)] = line.substr(colon + 2);
    }
    const auto signalNumber = number(facts["signal"]);
    const auto code = number(facts["code"]);
    const auto time = number(facts["time"]);
    if (!signalNumber || !signalName(*signalNumber) || !code || !time || *time < 0)
        return R::failure(reportError("The report lacks its signal, code or time."));
    // The service lists the outermost frame first.
    std::reverse(frames.begin(), frames.end());
    std::string id = Uuid::make();
    id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
    std::transform(id.begin(), id.end(), id.begin(), [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); });
    std::string value = std::string(signalName(*signalNumber)) + " (code " + std::to_string(*code) + ")";
    if (facts.count("address"))
        value += " at " + facts["address"].substr(0, 18);
    nlohmann::json exception = {
        {"type", signalName(*signalNumber)},
        {"value", value},
        {"mechanism", {{"type", "signalhandler"}, {"handled", false},
                       {"meta", {{"signal", {{"number", *signalNumber}, {"code", *code}, {"name", signalName(*signalNumber)}}}}}}},
    };
    if (!frames.empty())
        exception["stacktrace"] = {{"frames", frames}};
    return R::success(nlohmann::json{
        {"event_id", id},
        {"timestamp", *time},
        {"platform", "native"},
        {"level", "fatal"},
        {"logger", "korvel-x"},
        {"release", "korvel-x@" + facts["version"].substr(0, 64)},
        {"dist", facts["build"].substr(0, 64)},
        {"exception", {{"values", nlohmann::json::array({exception})}}},
    });
}

void CrashReporter::sendPendingReports(const fs::path& folder, const DSN& dsn, const std::string& clientName,
                                       std::function<void(std::size_t sent)> completion)
{
    auto reports = pendingReports(folder);
    std::error_code ignored;
    while (reports.size() > maximumPendingReports) {
        fs::remove(reports.front(), ignored);
        reports.erase(reports.begin());
    }
    struct Progress {
        std::size_t waiting = 0;
        std::size_t sent = 0;
        std::function<void(std::size_t)> completion;
        void finishOne()
        {
            if (--waiting == 0 && completion)
                std::exchange(completion, nullptr)(sent);
        }
    };
    auto progress = std::make_shared<Progress>();
    progress->waiting = reports.size() + 1; // one for this loop
    progress->completion = std::move(completion);
    for (const auto& report : reports) {
        std::error_code sizeError;
        const auto size = fs::file_size(report, sizeError);
        auto text = !sizeError && size <= maximumReportSize ? FileSystem::readFile(report) : std::nullopt;
        auto payload = text ? event(*text) : Result<nlohmann::json, Error>::failure(reportError("The report cannot be read."));
        if (payload.isFailure()) {
            RKLog("Deleting the crash report " + report.filename().string() + ": " + payload.error().localizedFailureReason, 0);
            fs::remove(report, ignored);
            progress->finishOne();
            continue;
        }
        HttpSession::Request request;
        request.method = "POST";
        request.url = dsn.storeURL;
        request.headers = {{"Content-Type", "application/json"},
                           {"X-Sentry-Auth", "Sentry sentry_version=7, sentry_client=" + clientName + ", sentry_key=" + dsn.publicKey}};
        request.body = payload.value().dump();
        request.timeout = std::chrono::seconds(30);
        HttpSession::shared().dataTask(std::move(request), [report, progress](Result<HttpSession::Response, Error> answer) {
            if (answer.isSuccess() && answer.value().statusCode / 100 == 2) {
                std::error_code removeError;
                fs::remove(report, removeError);
                ++progress->sent;
                RKLog("Sent the crash report " + report.filename().string(), 0);
            } else {
                RKLog("The crash report " + report.filename().string() + " was not taken; it is sent again at the next launch", 0);
            }
            progress->finishOne();
        })->resume();
    }
    progress->finishOne();
}

} // namespace kx
