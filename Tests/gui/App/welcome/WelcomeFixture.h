// A start window over a recent-files store of its own, with the document controller's hook,
// the tracker, the experiments and the desktop replaced by recorders, and the real start page
// loaded from the resources.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "App/welcome/RecentDocuments.h"
#include "App/welcome/WelcomeDocumentHook.h"
#include "App/welcome/WelcomeWindow.h"
#include "App/web/WebViewController.h"
#include "gui/App/welcome/WelcomeTestSupport.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Workspace.h"
#include "support/PageScript.h"
#include "support/TestPaths.h"

namespace kxtest {

inline constexpr auto pageLoadTimeout = std::chrono::seconds(30);

struct StoreItem {
    std::filesystem::path path;
    std::string application = "Korvel X";
    std::int64_t modified = 0;
};

// A time `seconds` ago: the store drops items older than a month when it is written.
inline std::int64_t secondsAgo(std::int64_t seconds)
{
    return g_get_real_time() / G_USEC_PER_SEC - seconds;
}

// A desktop recent-files store as GTK writes it, with times of our choosing.
inline void writeStore(const std::filesystem::path& file, const std::vector<StoreItem>& items)
{
    GBookmarkFile* store = g_bookmark_file_new();
    for (const auto& item : items) {
        gchar* uri = g_filename_to_uri(item.path.c_str(), nullptr, nullptr);
        GDateTime* when = g_date_time_new_from_unix_utc(item.modified);
        g_bookmark_file_set_mime_type(store, uri, "application/zip");
        g_bookmark_file_set_application_info(store, uri, item.application.c_str(), "korvel-x %u", 1, when, nullptr);
        g_bookmark_file_set_modified_date_time(store, uri, when);
        g_bookmark_file_set_added_date_time(store, uri, when);
        g_date_time_unref(when);
        g_free(uri);
    }
    g_bookmark_file_to_file(store, file.c_str(), nullptr);
    g_bookmark_file_free(store);
}

// Our recent documents over the store `file`, with our own list beside it.
inline std::unique_ptr<kx::RecentDocuments> recentDocumentsAt(const std::filesystem::path& file)
{
    auto* store = GTK_RECENT_MANAGER(g_object_new(GTK_TYPE_RECENT_MANAGER, "filename", file.c_str(), nullptr));
    return std::make_unique<kx::RecentDocuments>(kx::GObjectRef<GtkRecentManager>::adopt(store), "Korvel X",
                                                 "korvel-x %u", file.parent_path() / kx::RecentDocuments::listFileName);
}

class WelcomeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        setDark(false);
        auto& hook = kx::WelcomeDocumentHook::shared();
        hook.openDocument = [this](const std::filesystem::path& path, bool display, kx::WelcomeDocumentHook::Completion done) {
            openedDocuments.push_back(path);
            displayed.push_back(display);
            if (done)
                done(openError);
        };
        hook.openTemplate = [this](const std::filesystem::path& path, const std::string& name) -> std::optional<kx::Error> {
            templates.emplace_back(path, name);
            return std::nullopt;
        };
        hook.newDocument = [this] { ++newDocuments; };
        hook.openPanel = [this] { ++openPanels; };
        hook.presentError = [this](const kx::Error& error) { presented.push_back(error); };
        kx::Workspace::shared().setURLOpenerForTesting([this](const std::string& url) {
            desktopOpened.push_back(url);
            return true;
        });
        std::filesystem::create_directories(folder / "projects");
    }

    void TearDown() override
    {
        window.reset();
        kx::WelcomeDocumentHook::shared().reset();
        kx::Workspace::shared().setURLOpenerForTesting(nullptr);
        setDark(false);
    }

    std::filesystem::path project(const std::string& name, bool asFolder = false)
    {
        const auto path = folder / "projects" / name;
        if (asFolder)
            std::filesystem::create_directories(path);
        else
            std::ofstream(path) << "PK";
        return path;
    }

    kx::WelcomePageBridge::Environment environment()
    {
        kx::WelcomePageBridge::Environment environment;
        environment.track = [this](const std::string& event, const nlohmann::json& data) { events.push_back({event, data}); };
        environment.selections = [this] { return selections; };
        environment.openURL = [this](const std::string& url) {
            linksOpened.push_back(url);
            return true;
        };
        environment.openExample = &kx::WelcomePageBridge::openExample;
        environment.openTutorial = &kx::WelcomePageBridge::openTutorial;
        environment.defaults = &defaults;
        return environment;
    }

    void makeWindow()
    {
        if (!recents)
            recents = recentDocumentsAt(folder / "recently-used.xbel");
        window = std::make_unique<kx::WelcomeWindow>(kx::WelcomeWindow::defaultContentSize,
                                                     [this] { return recents->recentDocumentURLs(); }, environment());
    }

    // Shows the window and waits until its page has faded in and had its answer to "ready".
    void showWithPage()
    {
        if (!window)
            makeWindow();
        window->makeKeyAndOrderFront();
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window->widget()); }));
        ASSERT_TRUE(spinUntil([&] { return window->isPageShown(); }, pageLoadTimeout));
        ASSERT_TRUE(spinUntil([&] { return evaluate("document.documentElement.dataset.ready === 'true'") == true; },
                              pageLoadTimeout));
    }

    // Waits until the page's web process has drawn the page as it stands: its title is there
    // and the picture has stopped changing (the first frames may show an earlier layout).
    void waitForPagePaint()
    {
        GtkWidget* page = window->webViewController().webView().widget();
        const int width = gtk_widget_get_allocated_width(page);
        const int height = gtk_widget_get_allocated_height(page);
        std::vector<guchar> last;
        int unchanged = 0;
        EXPECT_TRUE(spinUntil([&] {
            spinFor(std::chrono::milliseconds(100));
            const kx::Point origin = onScreen(page, 0, 0);
            auto shot = kx::GObjectRef<GdkPixbuf>::adopt(
                gdk_pixbuf_get_from_window(gdk_get_default_root_window(), int(origin.x), int(origin.y), width, height));
            if (!shot)
                return false;
            // The picture has the screen's pixels: the page's points times the scale.
            const int scale = std::max(1, gdk_pixbuf_get_width(shot.get()) / std::max(1, width));
            const guchar* pixels = gdk_pixbuf_get_pixels(shot.get());
            std::vector<guchar> now(pixels, pixels + gdk_pixbuf_get_byte_length(shot.get()));
            unchanged = now == last ? unchanged + 1 : 0;
            last = std::move(now);
            // The title's glyphs: pixels of its line far from the line's first one. The page is
            // zoomed by the text scale.
            const int channels = gdk_pixbuf_get_n_channels(shot.get());
            const double zoom = kx::Window::textScale();
            const guchar* line = pixels + int(48 * zoom) * scale * gdk_pixbuf_get_rowstride(shot.get());
            bool title = false;
            for (int x = int(37 * zoom) * scale; x < int(160 * zoom) * scale && !title; ++x)
                title = std::abs(int(line[x * channels]) - int(line[int(36 * zoom) * scale * channels])) > 60;
            return title && unchanged >= 3;
        }, pageLoadTimeout));
    }

    nlohmann::json evaluate(const std::string& script, kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        return evaluateInPage(window->webViewController(), script, pageLoadTimeout, where);
    }

    // A message exactly as the page would post it.
    void postFromPage(const std::string& method, const nlohmann::json& arguments)
    {
        const std::string message = nlohmann::json{{"method", method}, {"arguments", arguments}}.dump();
        evaluate("window.webkit.messageHandlers._webkit.postMessage(" + nlohmann::json(message).dump() + "); true");
    }

    bool tracked(const std::string& event, const nlohmann::json& data) const
    {
        for (const auto& [name, value] : events) {
            if (name == event && value == data)
                return true;
        }
        return false;
    }

    TemporaryDirectory folder;
    kx::UserDefaults defaults{folder / "defaults.json"};
    std::unique_ptr<kx::RecentDocuments> recents;
    std::unique_ptr<kx::WelcomeWindow> window;
    std::map<std::string, std::string> selections;

    std::vector<std::pair<std::string, nlohmann::json>> events;
    std::vector<std::string> linksOpened;
    std::vector<std::string> desktopOpened;
    std::vector<std::filesystem::path> openedDocuments;
    std::vector<bool> displayed;
    std::vector<std::pair<std::filesystem::path, std::string>> templates;
    std::vector<kx::Error> presented;
    std::optional<kx::Error> openError;
    int newDocuments = 0;
    int openPanels = 0;
};

} // namespace kxtest
