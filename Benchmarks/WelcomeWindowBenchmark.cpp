// One start of the start window, or of a bare WebKitGTK window showing the same start page,
// for welcome-window-benchmark, which times whole processes from their start.
//
//   kx_welcome_benchmark store FOLDER COUNT   writes COUNT projects and a recent-files store
//   kx_welcome_benchmark shell STORE          the start window over that store
//   kx_welcome_benchmark bare                 a plain window with a web view and the page
//
// The two window modes print "ready" once the page has finished loading (and, for the start
// window, its list holds the store's projects), then, a moment later, the resident and
// proportional memory of the process and its children (the web processes) summed, in KiB.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "App/welcome/RecentDocuments.h"
#include "App/welcome/WelcomeWindow.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"

namespace {

namespace fs = std::filesystem;

constexpr auto settle = std::chrono::milliseconds(1500);

int parentOf(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(text.substr(close + 2));
    std::string state;
    int parent = -1;
    rest >> state >> parent;
    return parent;
}

// This process and every process below it.
std::set<int> processTree()
{
    std::set<int> tree{int(getpid())};
    bool grew = true;
    while (grew) {
        grew = false;
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            const int pid = std::atoi(entry->d_name);
            if (pid > 0 && !tree.count(pid) && tree.count(parentOf(pid))) {
                tree.insert(pid);
                grew = true;
            }
        }
        if (proc)
            closedir(proc);
    }
    return tree;
}

void printMemory()
{
    long rss = 0, pss = 0;
    for (int pid : processTree()) {
        std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
        // After the first line (the address range), one "Key:   value kB" a line.
        for (std::string line; std::getline(rollup, line);) {
            std::istringstream fields(line);
            std::string key;
            long value = 0;
            if (!(fields >> key >> value))
                continue;
            if (key == "Rss:")
                rss += value;
            else if (key == "Pss:")
                pss += value;
        }
    }
    std::printf("memory rss=%ld pss=%ld processes=%zu\n", rss, pss, processTree().size());
    std::fflush(stdout);
}

void finishLater()
{
    kx::MainQueue::after(settle, [] {
        printMemory();
        std::exit(0);
    });
}

int makeStore(const fs::path& folder, int count)
{
    fs::create_directories(folder / "projects");
    GBookmarkFile* store = g_bookmark_file_new();
    const gint64 now = g_get_real_time() / G_USEC_PER_SEC;
    for (int index = 0; index < count; ++index) {
        const fs::path project = folder / "projects" / ("Project " + std::to_string(index) + ".korvelx");
        std::ofstream(project) << "PK";
        gchar* uri = g_filename_to_uri(project.c_str(), nullptr, nullptr);
        GDateTime* when = g_date_time_new_from_unix_utc(now - count + index);
        g_bookmark_file_set_mime_type(store, uri, "application/zip");
        g_bookmark_file_set_application_info(store, uri, "Korvel X", "korvel-x %u", 1, when, nullptr);
        g_bookmark_file_set_modified_date_time(store, uri, when);
        g_date_time_unref(when);
        g_free(uri);
    }
    const bool written = g_bookmark_file_to_file(store, (folder / "recently-used.xbel").c_str(), nullptr);
    g_bookmark_file_free(store);
    return written ? 0 : 1;
}

int runShell(const fs::path& storeFile)
{
    auto* manager = GTK_RECENT_MANAGER(g_object_new(GTK_TYPE_RECENT_MANAGER, "filename", storeFile.c_str(), nullptr));
    kx::RecentDocuments recents(kx::GObjectRef<GtkRecentManager>::adopt(manager), "Korvel X", "korvel-x %u",
                                storeFile.parent_path() / kx::RecentDocuments::listFileName);
    // The tracker's own page is not part of the start window.
    auto environment = kx::WelcomePageBridge::Environment::standard();
    environment.track = [](const std::string&, const nlohmann::json&) { };
    kx::WelcomeWindow window(kx::WelcomeWindow::defaultContentSize, [&] { return recents.recentDocumentURLs(); },
                             environment);
    bool loaded = false;
    bool reported = false;
    const auto report = [&] {
        if (reported || !loaded || window.recentsTableView()->numberOfRows() == 0)
            return;
        reported = true;
        std::printf("ready rows=%d\n", window.recentsTableView()->numberOfRows());
        std::fflush(stdout);
        finishLater();
    };
    auto finished = kx::SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        window.webViewController().webView().wkWebView(), "load-changed", [&](WebKitWebView*, WebKitLoadEvent event) {
            if (event == WEBKIT_LOAD_FINISHED) {
                loaded = true;
                report();
            }
        });
    window.makeKeyAndOrderFront();
    report();
    gtk_main();
    return 0;
}

int runBare()
{
    const auto page = kx::Bundle::main().pathForResource("index", "html", "WelcomeWindow");
    if (!page)
        return 1;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 840, 540);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    auto finished = kx::SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        view, "load-changed", [](WebKitWebView*, WebKitLoadEvent event) {
            if (event != WEBKIT_LOAD_FINISHED)
                return;
            std::printf("ready\n");
            std::fflush(stdout);
            finishLater();
        });
    gchar* uri = g_filename_to_uri(page->c_str(), nullptr, nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
    g_free(uri);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "store" && argc == 4)
        return makeStore(argv[2], std::atoi(argv[3]));
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kx_welcome_benchmark: no display\n");
        return 2;
    }
    if (mode == "shell" && argc == 3)
        return runShell(argv[2]);
    if (mode == "bare")
        return runBare();
    std::fprintf(stderr, "usage: kx_welcome_benchmark store FOLDER COUNT | shell STORE | bare\n");
    return 2;
}
