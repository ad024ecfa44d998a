// A toolbar toggle that turns blue ("#0099ff") and may show its alternate image while on.
#pragma once

#include "App/preview/PreviewWindowToolbarButton.h"

namespace kx {

class PreviewWindowToolbarButtonWithTint : public PreviewWindowToolbarButton {
public:
    explicit PreviewWindowToolbarButtonWithTint(std::string imageName,
                                                std::optional<std::string> alternateImageName = std::nullopt)
        : PreviewWindowToolbarButton(std::move(imageName), std::move(alternateImageName), Kind::toggle)
    {
    }
    bool showsState() const override { return true; }
    Color color() const override
    {
        return Color::colorWithHexColorString(state() ? "#0099ff" : "#ffffff");
    }
};

} // namespace kx
