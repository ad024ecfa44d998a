#include "App/shell/widgets/View.h"

#include <algorithm>
#include <cmath>

namespace kx {

View::View(GtkWidget* widget)
    : widget_(GObjectRef<GtkWidget>::sink(widget))
{
}

View::~View()
{
    connections_.clear();
    gtk_widget_destroy(widget_.get());
}

void View::placeIn(GtkFixed* parent, const Rect& frame)
{
    gtk_widget_set_size_request(widget(), int(std::lround(frame.size.width)), int(std::lround(frame.size.height)));
    const int x = int(std::lround(frame.origin.x));
    const int y = int(std::lround(frame.origin.y));
    if (gtk_widget_get_parent(widget()) == GTK_WIDGET(parent))
        gtk_fixed_move(parent, widget(), x, y);
    else
        gtk_fixed_put(parent, widget(), x, y);
}

Point View::centredOrigin(const Size& boundsSize, const Size& contentSize)
{
    return {std::floor(boundsSize.width / 2 - contentSize.width / 2),
            std::floor(boundsSize.height / 2 - contentSize.height / 2)};
}

void View::fillImageShape(cairo_t* cr, cairo_surface_t* image, const Point& origin, double red, double green, double blue,
                          double alpha)
{
    cairo_save(cr);
    cairo_set_source_rgba(cr, red, green, blue, alpha);
    cairo_push_group_with_content(cr, CAIRO_CONTENT_ALPHA);
    cairo_set_source_surface(cr, image, origin.x, origin.y);
    cairo_paint(cr);
    cairo_pattern_t* shape = cairo_pop_group(cr);
    cairo_mask(cr, shape);
    cairo_pattern_destroy(shape);
    cairo_restore(cr);
}

void View::addRoundedRectangle(cairo_t* cr, const Rect& rect, double radius)
{
    const double x = rect.origin.x;
    const double y = rect.origin.y;
    const double w = rect.size.width;
    const double h = rect.size.height;
    const double r = std::max(0.0, std::min({radius, w / 2, h / 2}));
    if (r <= 0) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -G_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, G_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, x + r, y + r, r, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

Size View::boundsSize() const
{
    if (gtk_widget_get_realized(widget()))
        return {double(gtk_widget_get_allocated_width(widget())), double(gtk_widget_get_allocated_height(widget()))};
    int width = 0;
    int height = 0;
    gtk_widget_get_size_request(widget(), &width, &height);
    return {double(std::max(width, 0)), double(std::max(height, 0))};
}

} // namespace kx
