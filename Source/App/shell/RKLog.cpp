#include "App/shell/RKLog.h"

#include <array>
#include <mutex>
#include <string>

#include "Platform/Foundation/Bundle.h"

namespace kx {

namespace {

constexpr std::array<const char*, 6> categories = {"default", "memory", "server", "appServer", "development", "heartbeat"};

struct Route {
    const char* category;
    GLogLevelFlags level;
};

// Indexed by kind.
constexpr std::array<Route, 6> routes = {{
    {categories[0], G_LOG_LEVEL_MESSAGE},
    {categories[1], G_LOG_LEVEL_DEBUG},
    {categories[2], G_LOG_LEVEL_MESSAGE},
    {categories[2], G_LOG_LEVEL_CRITICAL},
    {categories[3], G_LOG_LEVEL_MESSAGE},
    {categories[3], G_LOG_LEVEL_MESSAGE},
}};

const std::string& logDomain()
{
    static const std::string domain = Bundle::main().bundleIdentifier();
    return domain;
}

std::mutex writerMutex;
RKLogWriter testWriter;

const char* priority(GLogLevelFlags level)
{
    switch (level) {
    case G_LOG_LEVEL_CRITICAL:
        return "3";
    case G_LOG_LEVEL_DEBUG:
        return "7";
    default:
        return "5";
    }
}

} // namespace

void RKLog(std::string_view message, unsigned kind)
{
    if (kind >= routes.size())
        return;
    const Route& route = routes[kind];
    const std::string text(message);
    const GLogField fields[] = {
        {"MESSAGE", text.c_str(), -1},
        {"PRIORITY", priority(route.level), -1},
        {"GLIB_DOMAIN", logDomain().c_str(), -1},
        {RKLogCategoryField, route.category, -1},
    };
    {
        std::lock_guard lock(writerMutex);
        if (testWriter) {
            testWriter(route.level, fields);
            return;
        }
    }
    // The writer decides what is kept: the default one drops debug entries unless
    // G_MESSAGES_DEBUG names the domain, as debug-level collection does elsewhere.
    g_log_structured_array(route.level, fields, G_N_ELEMENTS(fields));
}

void RKLogSetWriterForTesting(RKLogWriter writer)
{
    std::lock_guard lock(writerMutex);
    testWriter = std::move(writer);
}

} // namespace kx
