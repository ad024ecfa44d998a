// The sending half of CrashReporter: reports left by an earlier run, read as hostile text,
// turned into the service's events and sent; a report is deleted once the service took it.
#include "App/application/CrashReporter.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

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

std::optional<unsigned long long> hexNumber(const std::string& text)
{
    if (text.size() < 3 || text.size() > 18 || text.compare(0, 2, "0x") != 0
        || !std::all_of(text.begin() + 2, text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    return std::stoull(text.substr(2), nullptr, 16);
}

std::string hexText(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", value);
    return text;
}

std::vector<std::string> words(const std::string& line, std::size_t count)
{
    std::vector<std::string> result;
    std::size_t at = 0;
    while (result.size() + 1 < count) {
        const auto space = line.find(' ', at);
        if (space == std::string::npos)
            break;
        result.push_back(line.substr(at, space - at));
        at = space + 1;
    }
    result.push_back(line.substr(at));
    return result;
}

// A module the report's frames lie in: "<index> <build id or -> 0x<bias> 0x<extent> <path>".
struct ReportModule {
    std::string buildId; // lower-case hex, or empty
    unsigned long long bias = 0;
    unsigned long long size = 0;
    std::string path;
};

std::optional<std::pair<long long, ReportModule>> moduleLine(const std::string& text)
{
    const auto parts = words(text, 5);
    if (parts.size() != 5)
        return std::nullopt;
    const auto index = number(parts[0]);
    const auto bias = hexNumber(parts[2]);
    const auto size = hexNumber(parts[3]);
    ReportModule module;
    if (parts[1] != "-") {
        if (parts[1].empty() || parts[1].size() % 2 || parts[1].size() > 128
            || !std::all_of(parts[1].begin(), parts[1].end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'); }))
            return std::nullopt;
        module.buildId = parts[1];
    }
    if (!index || *index < 0 || !bias || !size || parts[4].empty())
        return std::nullopt;
    module.bias = *bias;
    module.size = *size;
    module.path = parts[4];
    return std::make_pair(*index, std::move(module));
}

// The service's debug id of an ELF file: the first 16 bytes of its build id (padded with
// zeros) read as a little-endian GUID.
std::string debugIdentifier(const std::string& buildId)
{
    std::string hex = buildId.substr(0, 32);
    hex.resize(32, '0');
    const auto byte = [&](int i) { return hex.substr(std::size_t(i) * 2, 2); };
    return byte(3) + byte(2) + byte(1) + byte(0) + "-" + byte(5) + byte(4) + "-" + byte(7) + byte(6) + "-" + byte(8) + byte(9) + "-"
        + hex.substr(20);
}

// "<module index> 0x<offset>" or "- 0x<address>".
std::optional<std::pair<std::optional<long long>, unsigned long long>> moduleFrame(const std::string& line)
{
    const auto parts = words(line, 2);
    if (parts.size() != 2)
        return std::nullopt;
    const auto address = hexNumber(parts[1]);
    if (!address)
        return std::nullopt;
    if (parts[0] == "-")
        return std::make_pair(std::optional<long long>(), *address);
    const auto index = number(parts[0]);
    if (!index || *index < 0)
        return std::nullopt;
    return std::make_pair(std::optional<long long>(*index), *address);
}

// "/usr/lib/libfoo.so(symbol+0x12) [0x7f00]" as a frame (the form of earlier reports); the
// library's folder stays out (it may name the user's home).
std::optional<nlohmann::json> symbolFrame(const std::string& line)
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
    std::map<long long, ReportModule> modules;
    // The images the frames lie in, in order of use, by their index in the report.
    std::map<long long, std::size_t> imageOfModule;
    nlohmann::json images = nlohmann::json::array();
    nlohmann::json frames = nlohmann::json::array();
    bool inBacktrace = false;
    while (std::getline(lines, line)) {
        if (line.size() > maximumLine || !isPrintable(line))
            return R::failure(reportError("The report holds a line that is not text."));
        if (inBacktrace) {
            if (frames.size() >= maximumSentFrames)
                continue;
            if (auto entry = moduleFrame(line)) {
                const auto& [index, address] = *entry;
                if (!index) {
                    frames.push_back({{"instruction_addr", hexText(address)}});
                    continue;
                }
                const auto module = modules.find(*index);
                if (module == modules.end())
                    continue;
                const std::string file = fs::path(module->second.path).filename().string();
                auto [image, added] = imageOfModule.emplace(*index, images.size());
                if (added) {
                    nlohmann::json description = {{"type", "elf"}, {"code_file", file}, {"image_addr", hexText(module->second.bias)},
                                                  {"image_size", module->second.size}};
                    if (!module->second.buildId.empty()) {
                        description["code_id"] = module->second.buildId;
                        description["debug_id"] = debugIdentifier(module->second.buildId);
                    }
                    images.push_back(std::move(description));
                }
                frames.push_back({{"instruction_addr", hexText(address)}, {"addr_mode", "rel:" + std::to_string(image->second)},
                                  {"package", file}});
            } else if (auto old = symbolFrame(line)) {
                frames.push_back(std::move(*old));
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
        if (line.compare(0, colon, "module") == 0) {
            auto module = moduleLine(line.substr(colon + 2));
            if (!module || modules.size() >= maximumSentFrames || !modules.emplace(std::move(*module)).second)
                return R::failure(reportError("The report holds a module line that is not one."));
            continue;
        }
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
    nlohmann::json result{
        {"event_id", id},
        {"timestamp", *time},
        {"platform", "native"},
        {"level", "fatal"},
        {"logger", "korvel-x"},
        {"release", "korvel-x@" + facts["version"].substr(0, 64)},
        {"dist", facts["build"].substr(0, 64)},
        {"exception", {{"values", nlohmann::json::array({exception})}}},
    };
    if (!images.empty())
        result["debug_meta"] = {{"images", std::move(images)}};
    return R::success(std::move(result));
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
            RKLog("Deleting the crash report " + report.filename().string() + ": " + payload.error().localizedFailureReason, RKLogKind::general);
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
                RKLog("Sent the crash report " + report.filename().string(), RKLogKind::general);
            } else {
                RKLog("The crash report " + report.filename().string() + " was not taken; it is sent again at the next launch", RKLogKind::general);
            }
            progress->finishOne();
        })->resume();
    }
    progress->finishOne();
}

} // namespace kx
