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
    const char* priority; // syslog priority of the journal entry
};

// Indexed by kind.
constexpr std::array<Route, 6> routes = {{
    {categories[0], G_LOG_LEVEL_MESSAGE, "5"},
    {categories[1], G_LOG_LEVEL_DEBUG, "7"},
    {categories[2], G_LOG_LEVEL_MESSAGE, "5"},
    // An error of the project server is a journal error, but for GLib only a warning: a
    // critical would abort anyone running with G_DEBUG=fatal-criticals.
    {categories[2], G_LOG_LEVEL_WARNING, "3"},
    {categories[3], G_LOG_LEVEL_MESSAGE, "5"},
    {categories[3], G_LOG_LEVEL_MESSAGE, "5"},
}};

const std::string& logDomain()
{
    static const std::string domain = Bundle::main().bundleIdentifier();
    return domain;
}

std::mutex writerMutex;
RKLogWriter testWriter;

} // namespace

void RKLog(std::string_view message, unsigned kind)
{
    if (kind >= routes.size())
        return;
    const Route& route = routes[kind];
    const std::string text(message);
    const GLogField fields[] = {
        {"MESSAGE", text.c_str(), -1},
        {"PRIORITY", route.priority, -1},
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
