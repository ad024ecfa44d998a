#include "App/shell/widgets/Spinner.h"

#include <cmath>

#include <gdk/gdk.h>

namespace kx {

Spinner::Spinner(NamedImages& images)
    : View(gtk_drawing_area_new())
    , images_(images)
{
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    // Frames come only while the spinner is on screen.
    tick_ = gtk_widget_add_tick_callback(widget(), &Spinner::tick, this, nullptr);
}

Spinner::~Spinner()
{
    gtk_widget_remove_tick_callback(widget(), tick_);
}

double Spinner::angle(double elapsed)
{
    if (!std::isfinite(elapsed) || elapsed < 0)
        return 0;
    return std::fmod(elapsed, 1.0) * 2 * G_PI;
}

gboolean Spinner::tick(GtkWidget* widget, GdkFrameClock* clock, gpointer data)
{
    auto* self = static_cast<Spinner*>(data);
    const gint64 now = gdk_frame_clock_get_frame_time(clock);
    if (!self->start_)
        self->start_ = now;
    self->angle_ = angle(double(now - self->start_) / G_USEC_PER_SEC);
    gtk_widget_queue_draw(widget);
    return G_SOURCE_CONTINUE;
}

void Spinner::draw(cairo_t* cr)
{
    const Size size = boundsSize();
    const int width = int(std::lround(size.width));
    const int height = int(std::lround(size.height));
    cairo_surface_t* image = images_.surfaceNamed("spin", width, height, gtk_widget_get_scale_factor(widget()));
    if (!image)
        return;
    cairo_translate(cr, size.width / 2, size.height / 2);
    cairo_rotate(cr, angle_);
    cairo_set_source_surface(cr, image, -width / 2.0, -height / 2.0);
    cairo_paint(cr);
}

} // namespace kx
