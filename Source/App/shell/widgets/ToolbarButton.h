// An image-only button for window toolbars that follows the day/night setting: it draws only
// its image, centred on whole points. When the image has a name and an image of that name
// followed by "-dark" exists, night mode shows that variant as it is; otherwise the image's
// shape is filled with a grey of the mode, darker or lighter while the button is pressed.
// A release over the button, or Space or Return while it has the keyboard focus, sends the
// action; a screen reader reads its tooltip. Every change of mode redraws it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "App/shell/Color.h"
#include "App/shell/widgets/ButtonTracking.h"
#include "App/shell/widgets/NamedImages.h"
#include "App/shell/widgets/View.h"
#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class ToolbarButton : public View {
public:
    // The image of that name, looked up again (with its night variant) at every draw.
    explicit ToolbarButton(std::string imageName, NamedImages& images = NamedImages::shared());
    // An image without a name: always tinted.
    explicit ToolbarButton(GdkPixbuf* image);

    // Shows the named image of `imageName` from now on, in the same button (a button made
    // with an image without a name keeps it).
    void setImageName(std::string imageName);
    const std::string& imageName() const { return imageName_; }
    bool isHighlighted() const { return highlighted_; }
    void setAction(std::function<void()> action) { action_ = std::move(action); }

    // The fill of an image without night variant: "#444444" by day, "#eeeeee" by night;
    // "#111111" and "#cccccc" while pressed.
    static Color tint(bool highlighted, bool dark);

private:
    void setUp();
    void draw(cairo_t* cr);

    std::string imageName_;
    NamedImages* images_ = nullptr;
    GObjectRef<GdkPixbuf> image_;
    bool highlighted_ = false;
    std::function<void()> action_;
    std::optional<ButtonTracking> tracking_;
};

} // namespace kx
