// Times one start of a program: from its exec to its first top-level window mapped (X11
// MapNotify on the root window) and to its page loaded (the page's "load" handler asks this
// probe for "/loaded"), then sums the memory of its whole process tree (resident and
// proportional, from /proc/<pid>/smaps_rollup) once it has settled, and ends it.
//
//   kx_startup_probe [--settle SECONDS] [--setenv NAME=VALUE]... [--trace FILE [--loaded-mark NAME]...]
//                    -- PROGRAM ARGUMENTS...
//
// With --trace the program writes its start-up marks to FILE (KORVEL_X_STARTUP_TRACE: lines of
// "<microseconds of the monotonic clock> <name>"), and the probe reports each mark's first time
// from the exec. With --loaded-mark the page counts as loaded once every mark named so has
// come, at the latest of them, instead of by the page's request: for pages the probe does not
// serve (the start window's own page).
//
// The probe serves the page on 127.0.0.1: "/page" and "/login" (what korvel-x's login window
// asks for in the "local" environment) give the same small page; the back end's telemetry
// endpoints answer 204. In the arguments and the values of --setenv, "@URL@" becomes the
// page's address and "@ROOT@" the server's root. Prints one JSON line.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <libsoup/soup.h>

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* page = R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>Sign in</title>
<style>body{font:14px system-ui,sans-serif;margin:0;padding:96px 40px;background:#fff;color:#1d1d1f}
input,button{width:100%;box-sizing:border-box;padding:10px;margin-bottom:12px;font-size:15px}</style></head>
<body><h1>Sign in to Korvel X</h1><p>A page of the size of the login page.</p>
<input value="Ada Lovelace"><input value="ada@example.com"><button>Sign In</button>
<script>addEventListener('load', function () { fetch('/loaded', {cache: 'no-store'}); });</script></body></html>)";

struct Probe {
    GPid child = 0;
    double started = 0;
    double mapped = 0;
    double loaded = 0;
    double settle = 3.0;
    std::string trace;
    std::vector<std::string> loadedMarks;
    GMainLoop* loop = nullptr;
};

Probe probe;

double now()
{
    return double(g_get_monotonic_time()) / 1e6;
}

void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer)
{
    const char* method = soup_server_message_get_method(message);
    if (g_strcmp0(path, "/loaded") == 0) {
        if (probe.loaded == 0)
            probe.loaded = now();
        soup_server_message_set_status(message, 204, nullptr);
        return;
    }
    if (g_strcmp0(method, "GET") == 0 && (g_strcmp0(path, "/page") == 0 || g_strcmp0(path, "/login") == 0)) {
        soup_server_message_set_status(message, 200, nullptr);
        soup_server_message_set_response(message, "text/html; charset=utf-8", SOUP_MEMORY_STATIC, page, std::strlen(page));
        return;
    }
    if (g_strcmp0(method, "POST") == 0 || g_strcmp0(method, "OPTIONS") == 0) {
        soup_message_headers_append(soup_server_message_get_response_headers(message), "Access-Control-Allow-Origin", "*");
        soup_server_message_set_status(message, 204, nullptr);
        return;
    }
    soup_server_message_set_status(message, 404, nullptr);
}

// The first top-level window that maps after the start.
GdkFilterReturn rootEvent(GdkXEvent* xevent, GdkEvent*, gpointer)
{
    auto* event = static_cast<XEvent*>(xevent);
    if (event->type == MapNotify && !event->xmap.override_redirect && probe.mapped == 0 && probe.started > 0)
        probe.mapped = now();
    return GDK_FILTER_CONTINUE;
}

std::map<pid_t, pid_t> parents()
{
    std::map<pid_t, pid_t> result;
    GDir* dir = g_dir_open("/proc", 0, nullptr);
    while (const char* name = dir ? g_dir_read_name(dir) : nullptr) {
        if (!g_ascii_isdigit(name[0]))
            continue;
        std::ifstream stat(std::string("/proc/") + name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        result[pid_t(std::atoi(name))] = parent;
    }
    if (dir)
        g_dir_close(dir);
    return result;
}

std::set<pid_t> tree(pid_t root)
{
    const auto all = parents();
    std::set<pid_t> members{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, parent] : all) {
            if (members.count(parent) && !members.count(pid)) {
                members.insert(pid);
                grew = true;
            }
        }
    }
    return members;
}

struct Memory {
    long rss = 0;     // resident
    long pss = 0;     // proportional: shared pages divided among their sharers
    long privateKiB = 0; // pages of this process alone: unaffected by whatever else runs
};

// Kibibytes of one process.
Memory memoryOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/smaps_rollup");
    Memory memory;
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        if (!(fields >> key >> value))
            continue;
        if (key == "Rss:")
            memory.rss = value;
        else if (key == "Pss:")
            memory.pss = value;
        else if (key == "Private_Clean:" || key == "Private_Dirty:")
            memory.privateKiB += value;
    }
    return memory;
}

// The first time of each mark in the trace, in seconds of the monotonic clock.
std::vector<std::pair<std::string, double>> traceMarks()
{
    std::vector<std::pair<std::string, double>> marks;
    std::ifstream file(probe.trace);
    for (std::string line; std::getline(file, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos)
            continue;
        const std::string name = line.substr(space + 1);
        bool seen = false;
        for (const auto& mark : marks)
            seen = seen || mark.first == name;
        if (!seen)
            marks.emplace_back(name, std::atof(line.substr(0, space).c_str()) / 1e6);
    }
    return marks;
}

// The latest of the loaded marks once all have come, else 0.
double loadedByMarks()
{
    const auto marks = traceMarks();
    double latest = 0;
    for (const auto& wanted : probe.loadedMarks) {
        double at = 0;
        for (const auto& [name, time] : marks)
            at = name == wanted ? time : at;
        if (at == 0)
            return 0;
        latest = std::max(latest, at);
    }
    return latest;
}

std::string jsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (static_cast<unsigned char>(c) >= 0x20)
            quoted += c;
    }
    return quoted + "\"";
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    std::vector<std::pair<std::string, std::string>> variables;
    for (; first < argc && std::strcmp(argv[first], "--") != 0; ++first) {
        if (std::strcmp(argv[first], "--settle") == 0 && first + 1 < argc) {
            probe.settle = std::atof(argv[++first]);
        } else if (std::strcmp(argv[first], "--trace") == 0 && first + 1 < argc) {
            probe.trace = argv[++first];
        } else if (std::strcmp(argv[first], "--loaded-mark") == 0 && first + 1 < argc) {
            probe.loadedMarks.emplace_back(argv[++first]);
        } else if (std::strcmp(argv[first], "--setenv") == 0 && first + 1 < argc) {
            const std::string assignment = argv[++first];
            const auto equals = assignment.find('=');
            if (equals != std::string::npos)
                variables.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
        }
    }
    if (first + 1 >= argc) {
        std::fprintf(stderr, "usage: kx_startup_probe [--settle SECONDS] -- PROGRAM ARGUMENTS...\n");
        return 2;
    }
    gtk_init(nullptr, nullptr);
    SoupServer* server = soup_server_new(nullptr, nullptr);
    soup_server_add_handler(server, nullptr, handle, nullptr, nullptr);
    GError* error = nullptr;
    if (!soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
        std::fprintf(stderr, "kx_startup_probe: %s\n", error->message);
        return 1;
    }
    GSList* uris = soup_server_get_uris(server);
    char* root = g_uri_to_string(static_cast<GUri*>(uris->data));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    const std::string pageURL = std::string(root) + "page";

    Display* display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    gdk_window_add_filter(gdk_get_default_root_window(), rootEvent, nullptr);

    auto substitute = [&](std::string text) {
        for (const auto& [placeholder, value] : {std::pair<std::string, std::string>{"@URL@", pageURL}, {"@ROOT@", root}}) {
            if (const auto at = text.find(placeholder); at != std::string::npos)
                text.replace(at, placeholder.size(), value);
        }
        return text;
    };
    std::vector<std::string> arguments;
    for (int i = first + 1; i < argc; ++i)
        arguments.push_back(substitute(argv[i]));
    std::vector<char*> childArgv;
    for (auto& argument : arguments)
        childArgv.push_back(argument.data());
    childArgv.push_back(nullptr);
    char** environment = g_get_environ();
    if (!probe.trace.empty()) {
        ::unlink(probe.trace.c_str());
        environment = g_environ_setenv(environment, "KORVEL_X_STARTUP_TRACE", probe.trace.c_str(), TRUE);
    }
    for (const auto& [name, value] : variables)
        environment = g_environ_setenv(environment, name.c_str(), substitute(value).c_str(), TRUE);

    probe.loop = g_main_loop_new(nullptr, FALSE);
    probe.started = now();
    if (!g_spawn_async(nullptr, childArgv.data(), environment, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &probe.child, &error)) {
        std::fprintf(stderr, "kx_startup_probe: %s\n", error->message);
        return 1;
    }
    g_child_watch_add(probe.child, [](GPid, int, gpointer) { g_main_loop_quit(probe.loop); }, nullptr);
    // Done once the page has loaded and the process tree has settled, or after a minute.
    g_timeout_add(50, [](gpointer) -> gboolean {
        static double settledAt = 0;
        if (!probe.loadedMarks.empty() && probe.loaded == 0)
            probe.loaded = loadedByMarks();
        if (probe.loaded > 0 && probe.mapped > 0 && settledAt == 0)
            settledAt = now() + probe.settle;
        if ((settledAt > 0 && now() >= settledAt) || now() - probe.started > 60) {
            g_main_loop_quit(probe.loop);
            return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
    }, nullptr);
    g_main_loop_run(probe.loop);

    Memory total, main;
    const auto members = tree(probe.child);
    for (pid_t pid : members) {
        const Memory memory = memoryOf(pid);
        total.rss += memory.rss;
        total.pss += memory.pss;
        total.privateKiB += memory.privateKiB;
        if (pid == probe.child)
            main = memory;
    }
    std::string marks;
    if (!probe.trace.empty()) {
        for (const auto& [name, time] : traceMarks()) {
            char value[32];
            std::snprintf(value, sizeof value, "%.4f", time - probe.started);
            marks += (marks.empty() ? "" : ", ") + jsonString(name) + ": " + value;
        }
    }
    std::printf("{\"mapped\": %.4f, \"loaded\": %.4f, \"processes\": %zu, \"rssKiB\": %ld, \"pssKiB\": %ld, "
                "\"privateKiB\": %ld, \"mainRssKiB\": %ld, \"mainPssKiB\": %ld, \"marks\": {%s}}\n",
                probe.mapped > 0 ? probe.mapped - probe.started : -1.0, probe.loaded > 0 ? probe.loaded - probe.started : -1.0,
                members.size(), total.rss, total.pss, total.privateKiB, main.rss, main.pss, marks.c_str());
    std::fflush(stdout);
    // The next start must not find this one's processes still sharing its pages.
    ::kill(probe.child, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        ::waitpid(probe.child, &status, WNOHANG);
        bool alive = false;
        for (pid_t pid : members)
            alive = alive || ::kill(pid, 0) == 0;
        if (!alive)
            break;
        if (i == 100) {
            for (pid_t pid : members)
                ::kill(pid, SIGKILL);
        }
        g_usleep(50000);
    }
    g_strfreev(environment);
    g_free(root);
    return probe.loaded > 0 && probe.mapped > 0 ? 0 : 1;
}
