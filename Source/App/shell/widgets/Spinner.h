// The image "spin" turning clockwise, one turn a second, for as long as the spinner exists;
// owners hide or remove it. The image fills the spinner's bounds.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "App/shell/widgets/NamedImages.h"
#include "App/shell/widgets/View.h"

namespace kx {

class Spinner : public View {
public:
    explicit Spinner(NamedImages& images = NamedImages::shared());
    ~Spinner() override;

    // The turn `elapsed` seconds after the start, in radians clockwise (0 up to 2π).
    static double angle(double elapsed);
    double currentAngle() const { return angle_; }

private:
    static gboolean tick(GtkWidget* widget, GdkFrameClock* clock, gpointer self);
    void draw(cairo_t* cr);

    NamedImages& images_;
    guint tick_ = 0;
    gint64 start_ = 0;
    double angle_ = 0;
};

} // namespace kx
