// A button that shows the shape of an image filled with a tint colour: the image's coverage
// cuts the colour, centred on whole points. While the mouse is held over it the highlight tint
// (or the tint, when there is none) fills the shape; a release over it sends the action.
// Without an image (a name with no image) it shows nothing and still works as a button.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "App/shell/Color.h"
#include "App/shell/widgets/ButtonTracking.h"
#include "App/shell/widgets/NamedImages.h"
#include "App/shell/widgets/View.h"

namespace kx {

class ImageMouseOverButton : public View {
public:
    explicit ImageMouseOverButton(const std::string& imageName, NamedImages& images = NamedImages::shared());

    // The image at its own size; nullptr when there is none.
    GdkPixbuf* image() const { return images_.imageNamed(imageName_); }

    // Red at first. Setting it fills the image at once.
    const std::optional<Color>& tintColor() const { return tintColor_; }
    void setTintColor(std::optional<Color> color);
    // Used from the next press.
    const std::optional<Color>& highlightTintColor() const { return highlightTintColor_; }
    void setHighlightTintColor(std::optional<Color> color) { highlightTintColor_ = std::move(color); }
    // The colour the image shows now; none shows nothing.
    const std::optional<Color>& currentTint() const { return currentTint_; }

    void setAction(std::function<void()> action) { action_ = std::move(action); }
    // What a screen reader reads for the image (else the tooltip).
    void setAccessibleName(std::string name) { tracking_->setAccessibleName(std::move(name)); }
    void setAccessibleRole(AtkRole role) { tracking_->setAccessibleRole(role); }

private:
    void pressedOver(bool over);
    void draw(cairo_t* cr);

    std::string imageName_;
    NamedImages& images_;
    std::optional<Color> tintColor_;
    std::optional<Color> highlightTintColor_;
    std::optional<Color> currentTint_;
    std::function<void()> action_;
    std::optional<ButtonTracking> tracking_;
};

} // namespace kx
