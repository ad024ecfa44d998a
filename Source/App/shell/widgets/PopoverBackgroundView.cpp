#include "App/shell/widgets/PopoverBackgroundView.h"

#include <glib.h>

#include "Platform/UI/Workspace.h"

namespace kx {

PopoverBackgroundView::PopoverBackgroundView()
    : View(gtk_fixed_new())
{
    connect<void(GtkWidget*, GtkWidget*)>("hierarchy-changed", [this](GtkWidget*, GtkWidget*) { enteredHierarchy(); });
}

void PopoverBackgroundView::enteredHierarchy()
{
    // The popover, or the pop-up window, that holds this view.
    GtkWidget* frame = nullptr;
    for (GtkWidget* ancestor = gtk_widget_get_parent(widget()); ancestor; ancestor = gtk_widget_get_parent(ancestor)) {
        if (GTK_IS_POPOVER(ancestor) || GTK_IS_WINDOW(ancestor)) {
            frame = ancestor;
            break;
        }
    }
    if (!frame)
        return;
    GtkStyleContext* context = gtk_widget_get_style_context(frame);
    if (coloredFrame_ && style_)
        gtk_style_context_remove_provider(gtk_widget_get_style_context(coloredFrame_.get()), GTK_STYLE_PROVIDER(style_.get()));
    const std::string color = backgroundColor_.value_or(Color{1, 1, 1, 1}).hexColorString();
    const std::string css = std::string(GTK_IS_POPOVER(frame) ? "popover" : "window") + " { background-color: " + color
                            + "; background-image: none; }";
    style_ = GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new());
    gtk_css_provider_load_from_data(style_.get(), css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(style_.get()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    coloredFrame_ = GObjectRef<GtkWidget>::retain(frame);
}

GtkLabel* PopoverBackgroundView::makeLinkLabel(const std::string& before, const std::string& linkText,
                                               const std::string& url, const std::string& after)
{
    gchar* markup = g_markup_printf_escaped("%s<a href=\"%s\">%s</a>%s", before.c_str(), url.c_str(), linkText.c_str(),
                                            after.c_str());
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    handleLinks(GTK_LABEL(label));
    return GTK_LABEL(label);
}

void PopoverBackgroundView::handleLinks(GtkLabel* label)
{
    connect<gboolean(GtkLabel*, gchar*)>(label, "activate-link", [this](GtkLabel*, gchar* uri) -> gboolean {
        return activateLink(uri ? uri : "");
    });
}

bool PopoverBackgroundView::opensLink(const std::string& url)
{
    gchar* scheme = g_uri_parse_scheme(url.c_str());
    const bool web = scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
    g_free(scheme);
    return web;
}

bool PopoverBackgroundView::activateLink(const std::string& url)
{
    // Taken either way: GTK's own handling would open any scheme.
    if (!opensLink(url))
        return true;
    Workspace::shared().openURL(url);
    if (auto popover = popover_.lock())
        popover->close();
    return true;
}

} // namespace kx
