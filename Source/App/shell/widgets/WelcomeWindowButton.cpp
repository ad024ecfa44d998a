#include "App/shell/widgets/WelcomeWindowButton.h"

#include "App/shell/ColorConstants.h"
#include "App/shell/widgets/Accessibility.h"

namespace kx {

WelcomeWindowButton::WelcomeWindowButton(const std::string& title)
    : View(Accessibility::newButtonArea())
{
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    tracking_.emplace(widget(), nullptr, [this] {
        if (auto action = action_)
            action();
    });
    tracking_->setFocusCornerRadius(cornerRadius);
    setTitle(title, ColorConstants::kBlack());
}

void WelcomeWindowButton::setTitle(const std::string& title, const Color& color)
{
    attributedTitle_ = AttributedTitle{title, color, std::nullopt, Font::systemFont(12), 0, TextAlignment::center,
                                       std::nullopt};
    tracking_->setAccessibleName(title);
    gtk_widget_queue_draw(widget());
}

void WelcomeWindowButton::draw(cairo_t* cr)
{
    const Size size = boundsSize();
    // The rounded corners clip whatever the button draws.
    addRoundedRectangle(cr, {{0, 0}, size}, cornerRadius);
    cairo_clip(cr);
    attributedTitle_.draw(cr, {{0, 0}, size});
}

} // namespace kx
