#include "App/shell/widgets/RKStylableView.h"

namespace kx {

RKStylableView::RKStylableView()
    : View(gtk_fixed_new())
{
    // Runs before the container's own drawing, which draws the children over it.
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
}

void RKStylableView::setLeftBorderWidth(float width, std::optional<Color> color)
{
    left_ = {width, std::move(color)};
    gtk_widget_queue_draw(widget());
}

void RKStylableView::setTopBorderWidth(float width, std::optional<Color> color)
{
    top_ = {width, std::move(color)};
    gtk_widget_queue_draw(widget());
}

void RKStylableView::setRightBorderWidth(float width, std::optional<Color> color)
{
    right_ = {width, std::move(color)};
    gtk_widget_queue_draw(widget());
}

void RKStylableView::setBottomBorderWidth(float width, std::optional<Color> color)
{
    bottom_ = {width, std::move(color)};
    gtk_widget_queue_draw(widget());
}

void RKStylableView::setBorderWidth(float width, std::optional<Color> color)
{
    setLeftBorderWidth(width, color);
    setTopBorderWidth(width, color);
    setRightBorderWidth(width, color);
    setBottomBorderWidth(width, color);
}

std::vector<RKStylableView::Fill> RKStylableView::fills(const Size& size) const
{
    const double w = size.width;
    const double h = size.height;
    std::vector<Fill> result;
    if (backgoundColor_)
        result.push_back({{{0, 0}, size}, *backgoundColor_});
    if (left_.width > 0 && left_.color)
        result.push_back({{{0, 0}, {left_.width, h}}, *left_.color});
    if (top_.width > 0 && top_.color)
        result.push_back({{{0, 0}, {w, top_.width}}, *top_.color});
    if (right_.width > 0 && right_.color)
        result.push_back({{{w - right_.width, 0}, {right_.width, h}}, *right_.color});
    if (bottom_.width > 0 && bottom_.color)
        result.push_back({{{0, h - bottom_.width}, {w, bottom_.width}}, *bottom_.color});
    return result;
}

void RKStylableView::draw(cairo_t* cr)
{
    for (const Fill& fill : fills(boundsSize())) {
        cairo_set_source_rgba(cr, fill.color.red, fill.color.green, fill.color.blue, fill.color.alpha);
        cairo_rectangle(cr, fill.rect.origin.x, fill.rect.origin.y, fill.rect.size.width, fill.rect.size.height);
        cairo_fill(cr);
    }
}

} // namespace kx
