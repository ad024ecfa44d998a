#include "App/shell/widgets/ToolbarAccessoryView.h"

#include <cstdio>

#include "App/shell/AppAppearance.h"

namespace kx {

namespace {

GtkCssProvider* nightStyle()
{
    static GtkCssProvider* provider = [] {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css, ToolbarAccessoryView::gradientCSS().c_str(), -1, nullptr);
        return css;
    }();
    return provider;
}

std::string cssColor(const Color& color)
{
    return color.hexColorString();
}

} // namespace

ToolbarAccessoryView::ToolbarAccessoryView()
    : View(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0))
{
    connect<void(GtkWidget*, GtkWidget*)>("hierarchy-changed", [this](GtkWidget*, GtkWidget*) { install(); });
}

std::vector<ToolbarAccessoryView::Stop> ToolbarAccessoryView::gradientStops()
{
    using Colors = AppAppearance::Colors;
    return {
        {Colors::toolbarTopLine(), 0},
        {Colors::toolbarGradientTop(), 1.5 / 74},
        {Colors::toolbarGradientBottom(), 71.8 / 74},
        {Colors::toolbarBottomLine(), 72.0 / 74},
        {Colors::toolbarBottomLine(), 1},
    };
}

std::string ToolbarAccessoryView::gradientCSS()
{
    std::string stops;
    for (const Stop& stop : gradientStops()) {
        char location[32];
        std::snprintf(location, sizeof location, "%.4f%%", stop.location * 100);
        if (!stops.empty())
            stops += ", ";
        stops += cssColor(stop.color);
        stops += ' ';
        stops += location;
    }
    std::string css = "headerbar.";
    css += nightStyleClass;
    css += " { background-image: linear-gradient(to bottom, ";
    css += stops;
    css += "); background-color: ";
    css += cssColor(AppAppearance::Colors::toolbarGradientBottom());
    css += "; border-color: ";
    css += cssColor(AppAppearance::Colors::toolbarBottomLine());
    css += "; box-shadow: none; color: #eeeeee; }";
    return css;
}

void ToolbarAccessoryView::install()
{
    if (titleBar_)
        return;
    // The nearest header bar that is in a window.
    for (GtkWidget* ancestor = gtk_widget_get_parent(widget()); ancestor; ancestor = gtk_widget_get_parent(ancestor)) {
        if (GTK_IS_HEADER_BAR(ancestor) && gtk_widget_get_parent(ancestor)) {
            titleBar_ = GObjectRef<GtkWidget>::retain(ancestor);
            break;
        }
    }
    if (!titleBar_)
        return;
    gtk_style_context_add_provider(gtk_widget_get_style_context(titleBar_.get()), GTK_STYLE_PROVIDER(nightStyle()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    applyAppearance();
    AppAppearance::shared().observeHandlers.push_back(whileAlive([this] { applyAppearance(); }));
}

void ToolbarAccessoryView::applyAppearance()
{
    GtkStyleContext* style = gtk_widget_get_style_context(titleBar_.get());
    if (AppAppearance::shared().isDark())
        gtk_style_context_add_class(style, nightStyleClass);
    else
        gtk_style_context_remove_class(style, nightStyleClass);
}

} // namespace kx
