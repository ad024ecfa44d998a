#include "App/preview/PreviewWindowToolbarButton.h"

#include <algorithm>
#include <cmath>

#include "App/shell/widgets/Accessibility.h"
#include "App/shell/widgets/NamedImages.h"

namespace kx {

PreviewWindowToolbarButton::PreviewWindowToolbarButton(std::string imageName, std::optional<std::string> alternateImageName)
    : PreviewWindowToolbarButton(std::move(imageName), std::move(alternateImageName), Kind::push)
{
}

PreviewWindowToolbarButton::PreviewWindowToolbarButton(std::string imageName, std::optional<std::string> alternateImageName,
                                                       Kind kind)
    : imageName_(std::move(imageName))
    , alternateImageName_(std::move(alternateImageName))
    , button_(GObjectRef<GtkWidget>::sink(kind == Kind::toggle ? gtk_toggle_button_new() : gtk_button_new()))
{
    GtkWidget* button = button_.get();
    gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
    gtk_widget_set_focus_on_click(button, FALSE);
    gtk_widget_set_size_request(button, buttonSize, buttonSize);
    gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
    gtk_style_context_add_class(gtk_widget_get_style_context(button), "kx-preview-toolbar-button");
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        button, "draw", [this](GtkWidget*, cairo_t* cr) -> gboolean { return draw(cr); }));
    connections_.push_back(SignalConnection::connect<void(GtkButton*)>(button, "clicked", [this](GtkButton*) {
        if (following_)
            return;
        // A state button flips its state, then acts on the new one.
        if (showsState())
            setState(!state_);
        if (action_)
            action_();
    }));
    // Every change of the window's activity redraws the button (full or half opacity).
    connections_.push_back(SignalConnection::connect<void(GtkWidget*, GtkWidget*)>(
        button, "hierarchy-changed", [this](GtkWidget* widget, GtkWidget*) {
            windowActive_.disconnect();
            GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
            if (GTK_IS_WINDOW(toplevel))
                windowActive_ = SignalConnection::connect<void(GObject*, GParamSpec*)>(
                    toplevel, "notify::is-active", [this](GObject*, GParamSpec*) { setNeedsDisplay(); });
        }));
}

PreviewWindowToolbarButton::~PreviewWindowToolbarButton()
{
    windowActive_.disconnect();
    connections_.clear();
}

void PreviewWindowToolbarButton::setState(bool on)
{
    state_ = on;
    if (GTK_IS_TOGGLE_BUTTON(widget()) && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget())) != on) {
        following_ = true;
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget()), on);
        following_ = false;
    }
    setNeedsDisplay();
}

void PreviewWindowToolbarButton::setAccessibleName(const std::string& name)
{
    Accessibility::setName(widget(), name);
}

void PreviewWindowToolbarButton::setAccessibleRole(AtkRole role)
{
    Accessibility::setRole(widget(), role);
}

bool PreviewWindowToolbarButton::isHighlighted() const
{
    return gtk_widget_get_state_flags(button_.get()) & GTK_STATE_FLAG_ACTIVE;
}

Rect PreviewWindowToolbarButton::imageRect(Size bounds, Size image)
{
    return {{std::floor(bounds.width / 2 - image.width / 2), std::floor(bounds.height / 2 - image.height / 2)}, image};
}

bool PreviewWindowToolbarButton::draw(cairo_t* cr)
{
    GtkWidget* button = button_.get();
    const std::string& name = isOn() && alternateImageName_ ? *alternateImageName_ : imageName_;
    const int scale = gtk_widget_get_scale_factor(button);
    // The images are drawn at 16 points, sharp at the screen's scale.
    constexpr int imagePoints = 16;
    cairo_surface_t* image = NamedImages::shared().surfaceNamed(name, imagePoints, imagePoints, scale);
    if (!image)
        return true; // nothing of the base button is drawn
    GtkWidget* toplevel = gtk_widget_get_toplevel(button);
    const bool isKey = GTK_IS_WINDOW(toplevel) && gtk_window_is_active(GTK_WINDOW(toplevel));
    const Size bounds{double(gtk_widget_get_allocated_width(button)), double(gtk_widget_get_allocated_height(button))};
    const Rect rect = imageRect(bounds, {double(imagePoints), double(imagePoints)});
    const Color fill = color();
    // Drawn alone in a group, the image's coverage then takes the colour.
    cairo_push_group(cr);
    cairo_set_source_surface(cr, image, rect.origin.x, rect.origin.y);
    cairo_paint_with_alpha(cr, opacity(isKey, isHighlighted()));
    cairo_set_operator(cr, CAIRO_OPERATOR_IN);
    cairo_set_source_rgba(cr, fill.red, fill.green, fill.blue, fill.alpha);
    cairo_rectangle(cr, 0, 0, bounds.width, bounds.height);
    cairo_fill(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
    // Around the image, within what GTK draws of the button: its clip, the theme's box of the
    // button, which can be lower than the button (the window's style gives it room).
    GtkAllocation allocation;
    GtkAllocation clip;
    gtk_widget_get_allocation(button, &allocation);
    gtk_widget_get_clip(button, &clip);
    const double top = std::max(0, clip.y - allocation.y);
    const double bottom = std::min(bounds.height, double(clip.y - allocation.y + clip.height));
    const Rect shown{{0, top}, {bounds.width, std::max(0.0, bottom - top)}};
    constexpr double ringPoints = 24;
    Rect ring = imageRect(shown.size, {std::min(ringPoints, shown.size.width), std::min(ringPoints, shown.size.height)});
    ring.origin.y += shown.origin.y;
    Accessibility::drawFocusRing(button, cr, ring);
    return true;
}

} // namespace kx
