// The console button: white normally, "#FF3366" when the preview has errors and "#FFCC00" when
// it has warnings, with its alternate image in either of those states.
#pragma once

#include "App/preview/PreviewWindowToolbarButton.h"

namespace kx {

enum class InspectorButtonType { normal, error, warning };

class PreviewWindowToolbarInspectorButton : public PreviewWindowToolbarButton {
public:
    using PreviewWindowToolbarButton::PreviewWindowToolbarButton;

    InspectorButtonType iconState() const { return iconState_; }
    // The owner marks the button for display afterwards.
    void setIconState(InspectorButtonType state) { iconState_ = state; }

    bool isOn() const override { return iconState_ != InspectorButtonType::normal; }
    Color color() const override
    {
        switch (iconState_) {
        case InspectorButtonType::error: return Color::colorWithHexColorString("#FF3366");
        case InspectorButtonType::warning: return Color::colorWithHexColorString("#FFCC00");
        case InspectorButtonType::normal: break;
        }
        return Color::colorWithHexColorString("#ffffff");
    }

private:
    InspectorButtonType iconState_ = InspectorButtonType::normal;
};

} // namespace kx
