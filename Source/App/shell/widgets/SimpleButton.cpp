#include "App/shell/widgets/SimpleButton.h"

#include "App/shell/widgets/Accessibility.h"

namespace kx {

namespace {

void setSource(cairo_t* cr, const Color& color)
{
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
}

} // namespace

SimpleButton::SimpleButton()
    : View(Accessibility::newButtonArea())
{
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    tracking_.emplace(
        widget(),
        [this](bool pressedOver) { setButtonState(pressedOver ? SimpleButtonState::pressed : SimpleButtonState::normal); },
        [this] {
            if (isEnabled() && action_) {
                auto action = action_;
                action();
            }
        });
}

void SimpleButton::styleDidChange()
{
    if (tracking_)
        tracking_->setAccessibleName(attributedTitle().text);
    gtk_widget_queue_draw(widget());
}

void SimpleButton::draw(cairo_t* cr)
{
    const Size size = boundsSize();
    const Layer& look = layer();
    const Rect bounds{{0, 0}, size};
    if (look.backgroundColor) {
        addRoundedRectangle(cr, bounds, look.cornerRadius);
        setSource(cr, *look.backgroundColor);
        cairo_fill(cr);
    }
    // A layer's border lies inside its bounds.
    if (look.borderColor && look.borderWidth > 0) {
        const double inset = look.borderWidth / 2;
        addRoundedRectangle(cr, {{inset, inset}, {size.width - look.borderWidth, size.height - look.borderWidth}},
                            std::max(0.0, look.cornerRadius - inset));
        setSource(cr, *look.borderColor);
        cairo_set_line_width(cr, look.borderWidth);
        cairo_stroke(cr);
    }
    attributedTitle().draw(cr, bounds);
}

} // namespace kx
