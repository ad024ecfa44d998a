#include "App/shell/widgets/ImageMouseOverButton.h"

#include <gdk/gdk.h>

#include "App/shell/widgets/Accessibility.h"

namespace kx {

ImageMouseOverButton::ImageMouseOverButton(const std::string& imageName, NamedImages& images)
    : View(Accessibility::newButtonArea())
    , imageName_(imageName)
    , images_(images)
    , tintColor_(Color{1, 0, 0, 1})
    , currentTint_(tintColor_)
{
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    tracking_.emplace(widget(), [this](bool over) { pressedOver(over); },
                      [this] {
                          if (auto action = action_)
                              action();
                      });
    // The ring around the image, clear of the window's edge where the close button sits.
    tracking_->setFocusInset(3);
}

void ImageMouseOverButton::setTintColor(std::optional<Color> color)
{
    tintColor_ = std::move(color);
    currentTint_ = tintColor_;
    gtk_widget_queue_draw(widget());
}

void ImageMouseOverButton::pressedOver(bool over)
{
    currentTint_ = over && highlightTintColor_ ? highlightTintColor_ : tintColor_;
    gtk_widget_queue_draw(widget());
}

void ImageMouseOverButton::draw(cairo_t* cr)
{
    if (!currentTint_)
        return;
    // Made for the widget's scale at each draw, so that it stays sharp on any screen.
    cairo_surface_t* image = images_.surfaceNamed(imageName_, gtk_widget_get_scale_factor(widget()));
    if (!image)
        return;
    const Point origin = centredOrigin(boundsSize(), NamedImages::pointSize(image));
    // The tint through the image's coverage.
    fillImageShape(cr, image, origin, currentTint_->red, currentTint_->green, currentTint_->blue, currentTint_->alpha);
}

} // namespace kx
