#include "App/shell/widgets/ToolbarButton.h"

#include <memory>

#include <gdk/gdk.h>

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/Accessibility.h"

namespace kx {

ToolbarButton::ToolbarButton(std::string imageName, NamedImages& images)
    : View(Accessibility::newButtonArea())
    , imageName_(std::move(imageName))
    , images_(&images)
{
    setUp();
}

ToolbarButton::ToolbarButton(GdkPixbuf* image)
    : View(Accessibility::newButtonArea())
    , image_(GObjectRef<GdkPixbuf>::retain(image))
{
    setUp();
}

void ToolbarButton::setUp()
{
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    tracking_.emplace(
        widget(),
        [this](bool over) {
            highlighted_ = over;
            gtk_widget_queue_draw(widget());
        },
        [this] {
            if (auto action = action_)
                action();
        });
    AppAppearance::shared().observeHandlers.push_back(whileAlive([this] { gtk_widget_queue_draw(widget()); }));
}

void ToolbarButton::setImageName(std::string imageName)
{
    if (!images_ || imageName == imageName_)
        return;
    imageName_ = std::move(imageName);
    gtk_widget_queue_draw(widget());
}

Color ToolbarButton::tint(bool highlighted, bool dark)
{
    if (highlighted)
        return Color::colorWithHexColorString(dark ? "#cccccc" : "#111111");
    return Color::colorWithHexColorString(dark ? "#eeeeee" : "#444444");
}

void ToolbarButton::draw(cairo_t* cr)
{
    // Named images are made for the widget's scale at each draw; an image given as it is
    // keeps its pixels.
    const int scale = gtk_widget_get_scale_factor(widget());
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> given{nullptr, &cairo_surface_destroy};
    if (!images_ && image_)
        given.reset(gdk_cairo_surface_create_from_pixbuf(image_.get(), 1, nullptr));
    cairo_surface_t* image = images_ ? images_->surfaceNamed(imageName_, scale) : given.get();
    if (!image)
        return;
    const bool dark = AppAppearance::shared().isDark();
    const Size bounds = boundsSize();
    if (images_) {
        if (cairo_surface_t* night = images_->surfaceNamed(imageName_ + "-dark", scale)) {
            cairo_surface_t* shown = dark ? night : image;
            const Point origin = centredOrigin(bounds, NamedImages::pointSize(shown));
            cairo_set_source_surface(cr, shown, origin.x, origin.y);
            cairo_paint(cr);
            return;
        }
    }
    const Point origin = centredOrigin(bounds, NamedImages::pointSize(image));
    // The tint replaces the image's colours and keeps its coverage.
    const Color fill = tint(highlighted_, dark);
    fillImageShape(cr, image, origin, fill.red, fill.green, fill.blue, fill.alpha);
}

} // namespace kx
