#include "App/web/RKColorSamplerView.h"

#include <numbers>

#include "App/web/RKColorSamplerGeometry.h"

namespace kx {

namespace {

void ellipse(cairo_t* cr, const Rect& rect)
{
    cairo_save(cr);
    cairo_translate(cr, rect.origin.x + rect.size.width * 0.5, rect.origin.y + rect.size.height * 0.5);
    cairo_scale(cr, rect.size.width * 0.5, rect.size.height * 0.5);
    cairo_new_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(cr);
}

} // namespace

RKColorSamplerView::RKColorSamplerView()
    : widget_(GObjectRef<GtkWidget>::sink(gtk_drawing_area_new()))
    , drawing_(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
          widget_.get(), "draw", [this](GtkWidget* widget, cairo_t* cr) -> gboolean {
              draw(cr, {double(gtk_widget_get_allocated_width(widget)), double(gtk_widget_get_allocated_height(widget))});
              return TRUE;
          }))
{
}

RKColorSamplerView::~RKColorSamplerView() = default;

void RKColorSamplerView::setImageRef(const GdkPixbuf* image)
{
    if (image == imageRef_.get())
        return;
    imageRef_ = PixbufPtr::adopt(image ? gdk_pixbuf_copy(image) : nullptr);
}

void RKColorSamplerView::draw(cairo_t* cr, Size bounds) const
{
    const Rect rect{{0, 0}, bounds};
    cairo_save(cr);

    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);

    ellipse(cr, rect);
    cairo_clip(cr);

    if (imageRef_) {
        const int width = gdk_pixbuf_get_width(imageRef_.get());
        const int height = gdk_pixbuf_get_height(imageRef_.get());
        cairo_save(cr);
        cairo_scale(cr, bounds.width / width, bounds.height / height);
        gdk_cairo_set_source_pixbuf(cr, imageRef_.get(), 0, 0);
        // Each screen pixel stays a sharp square: the point of a loupe.
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    ellipse(cr, rect);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);

    ellipse(cr, {{1, 1}, {bounds.width - 2, bounds.height - 2}});
    cairo_set_source_rgba(cr, 1, 1, 1, 0.5);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    // Difference keeps the square visible on any colour.
    const Rect square = RKColorSamplerGeometry::flipped(RKColorSamplerGeometry::crossHairRect(bounds), bounds.height);
    cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.5);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, square.origin.x, square.origin.y, square.size.width, square.size.height);
    cairo_stroke(cr);

    cairo_restore(cr);
}

} // namespace kx
