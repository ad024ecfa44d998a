#include "ClickableWidgets.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"

namespace kxtest {

namespace {

// The visible buttons, links and fields of a page, in the page's pixels; none while the page
// loads (its scripts may not yet handle clicks). Run in a world of its own: the page's scripts
// neither see it nor can change what it reports.
constexpr const char* pageScript = R"js(
document.readyState !== 'complete' ? '[]' : JSON.stringify(Array.from(document.querySelectorAll('button, a, input, textarea')).flatMap((element) => {
  const box = element.getBoundingClientRect();
  if (box.width <= 0 || box.height <= 0 || element.closest('[hidden]')) return [];
  const name = element.id || element.getAttribute('aria-label') || element.textContent.trim();
  const value = element.tagName === 'INPUT' || element.tagName === 'TEXTAREA' ? element.value : null;
  return [{name, value, x: box.left, y: box.top, width: box.width, height: box.height}];
}))
)js";

struct Report {
    std::string path;
    std::string text;
    int pendingPages = 0;
    bool written = false;
};

void line(Report& report, const char* kind, const std::string& window, const std::string& name, int x, int y, int width,
          int height, int scale)
{
    // A field holds no tab or line break of its own.
    std::string clean = name;
    for (char& c : clean)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    report.text += std::string(kind) + "\t" + window + "\t" + clean + "\t" + std::to_string(x) + "\t" + std::to_string(y) + "\t"
        + std::to_string(width) + "\t" + std::to_string(height) + "\t" + std::to_string(scale) + "\n";
}

// Written once every page answered, or without the pages still silent when `anyway` (a hung
// web process answers nothing until it runs again).
void finishIfComplete(const std::shared_ptr<Report>& report, bool anyway = false)
{
    if (report->written || (report->pendingPages > 0 && !anyway))
        return;
    report->written = true;
    const std::string partial = report->path + ".partial";
    if (FILE* file = std::fopen(partial.c_str(), "w")) {
        const bool written = std::fwrite(report->text.data(), 1, report->text.size(), file) == report->text.size();
        if (std::fclose(file) == 0 && written)
            std::rename(partial.c_str(), report->path.c_str());
    }
}

// The widget's rectangle on the screen in GDK's points, through its top-level window (a
// popover's and a pop-up menu's own top-level included), and that window's scale.
bool rootRectangle(GtkWidget* widget, GdkRectangle& rectangle, int& scale)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    GdkWindow* window = gtk_widget_get_window(toplevel);
    int x = 0, y = 0, originX = 0, originY = 0;
    if (!window || !gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y))
        return false;
    gdk_window_get_origin(window, &originX, &originY);
    rectangle = {originX + x, originY + y, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget)};
    scale = gdk_window_get_scale_factor(window);
    return true;
}

struct Walk {
    std::shared_ptr<Report> report;
    std::string window;
};

void reportPage(WebKitWebView* view, const Walk& walk, const GdkRectangle& at, int scale)
{
    struct Query {
        std::shared_ptr<Report> report;
        std::string window;
        GdkRectangle at;
        int scale;
    };
    // A hung page answers nothing until it runs again: its view is reported without its page.
    if (!webkit_web_view_get_is_web_process_responsive(view))
        return;
    // The page's CSS pixels are the view's points.
    auto* query = new Query{walk.report, walk.window, at, scale};
    ++walk.report->pendingPages;
    webkit_web_view_evaluate_javascript(
        view, pageScript, -1, "kx-test-report", nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* query = static_cast<Query*>(data);
            GError* error = nullptr;
            const auto value =
                kx::GObjectRef<JSCValue>::adopt(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error));
            if (value) {
                gchar* text = jsc_value_to_string(value.get());
                const auto list = nlohmann::json::parse(text ? text : "[]", nullptr, false);
                g_free(text);
                for (const auto& item : list.is_array() ? list : nlohmann::json::array()) {
                    if (!item.is_object())
                        continue;
                    const int x = query->at.x + int(item.value("x", 0.0)), y = query->at.y + int(item.value("y", 0.0));
                    const int width = int(item.value("width", 0.0)), height = int(item.value("height", 0.0));
                    line(*query->report, "page", query->window, item.value("name", ""), x, y, width, height, query->scale);
                    if (item.contains("value") && item["value"].is_string())
                        line(*query->report, "value", query->window, item["value"].get<std::string>(), x, y, width, height, query->scale);
                }
            }
            if (error)
                g_error_free(error);
            --query->report->pendingPages;
            finishIfComplete(query->report);
            delete query;
        },
        query);
}

void visit(GtkWidget* widget, gpointer data)
{
    auto& walk = *static_cast<Walk*>(data);
    // What is hidden, or insensitive with all it holds, cannot be clicked.
    if (!gtk_widget_get_mapped(widget) || !gtk_widget_is_sensitive(widget))
        return;
    GdkRectangle at{};
    int scale = 1;
    const bool placed = rootRectangle(widget, at, scale);
    gchar* tooltip = gtk_widget_get_tooltip_text(widget);
    const std::string tip = tooltip ? tooltip : "";
    g_free(tooltip);
    if (placed && WEBKIT_IS_WEB_VIEW(widget)) {
        const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(widget));
        line(*walk.report, "web", walk.window, uri ? uri : "", at.x, at.y, at.width, at.height, scale);
        reportPage(WEBKIT_WEB_VIEW(widget), walk, at, scale);
    } else if (placed && GTK_IS_MENU_ITEM(widget)) {
        const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
        line(*walk.report, "menuitem", walk.window, label ? label : "", at.x, at.y, at.width, at.height, scale);
    } else if (placed && (GTK_IS_BUTTON(widget) || !tip.empty())) {
        const char* label = GTK_IS_BUTTON(widget) ? gtk_button_get_label(GTK_BUTTON(widget)) : nullptr;
        std::string name = label && *label ? label : tip;
        // A button drawn as an icon alone is known by the name a screen reader reads.
        if (name.empty()) {
            const char* said = atk_object_get_name(gtk_widget_get_accessible(widget));
            name = said ? said : "";
        }
        line(*walk.report, "button", walk.window, name, at.x, at.y, at.width, at.height, scale);
    } else if (placed && GTK_IS_ENTRY(widget)) {
        // What a field holds, so that a test types on only once the field has taken its keys.
        line(*walk.report, "entry", walk.window, gtk_entry_get_text(GTK_ENTRY(widget)), at.x, at.y, at.width, at.height, scale);
    } else if (placed && GTK_IS_LABEL(widget) && !gtk_widget_get_ancestor(widget, GTK_TYPE_BUTTON)) {
        // What the window says, so that a test reads what the user reads.
        const char* text = gtk_label_get_text(GTK_LABEL(widget));
        if (text && *text)
            line(*walk.report, "text", walk.window, text, at.x, at.y, at.width, at.height, scale);
    }
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), visit, data);
}

gboolean report(gpointer path)
{
    auto report = std::make_shared<Report>(Report{static_cast<const char*>(path), {}, 0});
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (!gtk_widget_get_mapped(window))
            continue;
        // Pop-up menus and windows without a title are told apart by their kind.
        const char* title = gtk_window_get_title(GTK_WINDOW(window));
        const bool popup = gtk_window_get_window_type(GTK_WINDOW(window)) == GTK_WINDOW_POPUP;
        Walk walk{report, title && *title ? title : popup ? "(popup)" : "(untitled)"};
        visit(window, &walk);
    }
    g_list_free(toplevels);
    finishIfComplete(report);
    kx::MainQueue::after(std::chrono::seconds(5), [report] { finishIfComplete(report, true); });
    return G_SOURCE_CONTINUE;
}

} // namespace

void reportClickableWidgetsOnSignal(const char* path)
{
    g_unix_signal_add(SIGUSR2, report, g_strdup(path));
}

} // namespace kxtest
