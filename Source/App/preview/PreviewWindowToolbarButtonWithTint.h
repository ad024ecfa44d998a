// A toolbar toggle that turns blue ("#0099ff") and may show its alternate image while on.
#pragma once

#include "App/preview/PreviewWindowToolbarButton.h"

namespace kx {

class PreviewWindowToolbarButtonWithTint : public PreviewWindowToolbarButton {
public:
    using PreviewWindowToolbarButton::PreviewWindowToolbarButton;
    bool showsState() const override { return true; }
    Color color() const override
    {
        return Color::colorWithHexColorString(state() ? "#0099ff" : "#ffffff");
    }
};

} // namespace kx
