#include "App/welcome/WelcomeWindowNoRecentDocumentsView.h"

#include <cmath>

#include "App/shell/AppAppearance.h"

namespace kx {

namespace {

Color textColor()
{
    return Color::colorWithHexColorString(AppAppearance::shared().isDark() ? "444444" : "D2D2D3");
}

Color backgroundColor()
{
    return Color::colorWithHexColorString(AppAppearance::shared().isDark() ? "222222" : "F9F9F9");
}

} // namespace

WelcomeWindowNoRecentDocumentsView::WelcomeWindowNoRecentDocumentsView(const Rect& frame, double scale)
    : View(gtk_fixed_new())
{
    gtk_widget_set_size_request(widget(), int(std::lround(frame.size.width)), int(std::lround(frame.size.height)));
    setup(frame.size.width, scale > 0 && std::isfinite(scale) ? scale : 1);
}

void WelcomeWindowNoRecentDocumentsView::setup(double width, double scale)
{
    label_ = std::make_unique<AntiAliasedLabel>(title, Font::systemFont(12), textColor(), backgroundColor(),
                                                TextAlignment::center, std::nullopt);
    label_->placeIn(fixed(), {{0, std::round(31 * scale)}, {width, std::round(20 * scale)}});
    gtk_widget_show(label_->widget());
    AppAppearance::shared().observeHandlers.push_back(whileAlive([label = label_.get()] {
        label->textColor = textColor();
        label->setTitle(label->title(), label->textColor, label->backgroundColor, label->textAlignment,
                        label->letterSpacing);
        label->backgroundColor = backgroundColor();
        label->setTitle(label->title(), label->textColor, label->backgroundColor, label->textAlignment,
                        label->letterSpacing);
    }));
}

} // namespace kx
