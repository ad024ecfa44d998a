#include "App/shell/widgets/ToolbarButton.h"

#include <gdk/gdk.h>

#include "App/shell/AppAppearance.h"

namespace kx {

ToolbarButton::ToolbarButton(std::string imageName, NamedImages& images)
    : View(gtk_drawing_area_new())
    , imageName_(std::move(imageName))
    , images_(&images)
{
    setUp();
}

ToolbarButton::ToolbarButton(GdkPixbuf* image)
    : View(gtk_drawing_area_new())
    , image_(GObjectRef<GdkPixbuf>::retain(image))
{
    setUp();
}

void ToolbarButton::setUp()
{
    gtk_widget_set_can_focus(widget(), FALSE);
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
    GdkPixbuf* image = images_ ? images_->imageNamed(imageName_) : image_.get();
    if (!image)
        return;
    const bool dark = AppAppearance::shared().isDark();
    const Size bounds = boundsSize();
    if (images_) {
        if (GdkPixbuf* night = images_->imageNamed(imageName_ + "-dark")) {
            GdkPixbuf* shown = dark ? night : image;
            const Size size{double(gdk_pixbuf_get_width(shown)), double(gdk_pixbuf_get_height(shown))};
            const Point origin = centredOrigin(bounds, size);
            gdk_cairo_set_source_pixbuf(cr, shown, origin.x, origin.y);
            cairo_paint(cr);
            return;
        }
    }
    const Size size{double(gdk_pixbuf_get_width(image)), double(gdk_pixbuf_get_height(image))};
    const Point origin = centredOrigin(bounds, size);
    // The tint replaces the image's colours and keeps its coverage.
    const Color fill = tint(highlighted_, dark);
    fillImageShape(cr, image, origin, fill.red, fill.green, fill.blue, fill.alpha);
}

} // namespace kx
