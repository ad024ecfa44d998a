// The fixed named colours of the editor chrome and the code views. Each is made once, on first
// use, and then kept; kEditorBackgroundColor is kBlack itself.
#pragma once

#include "App/shell/Color.h"

namespace kx {

class ColorConstants {
public:
    static const Color& kBlack();
    static const Color& kDeepGray();
    static const Color& kDarkGray();
    static const Color& kGray();
    static const Color& kGray2();
    static const Color& kSyntaxLightBlue();
    static const Color& kSyntaxBlue();
    static const Color& kSyntaxPurple();
    static const Color& kSyntaxGreen();
    static const Color& kSyntaxGreen2();
    static const Color& kSyntaxLightGreen();
    static const Color& kSyntaxOrange();
    static const Color& kSyntaxPink();
    static const Color& kSyntaxRed();
    static const Color& kWhite();
    static const Color& kEditorCursorColor();
    static const Color& kEditorBackgroundColor();
    static const Color& kEditorSelectionColor();
    static const Color& kEditorSelectionColorInactive();
    static const Color& kEditorTextColor();
    static const Color& kEditorInvisiblesColor();
    static const Color& kEditorInvisiblesSelectedColor();
    static const Color& kCodePanelBackgroundColor();
};

} // namespace kx
