#include "App/shell/ColorConstants.h"

namespace kx {

#define KX_HEX_COLOR(name, hex)                                             \
    const Color& ColorConstants::name()                                     \
    {                                                                       \
        static const Color color = Color::colorWithHexColorString(hex);     \
        return color;                                                       \
    }

KX_HEX_COLOR(kBlack, "1E1E1E")
KX_HEX_COLOR(kDeepGray, "141414")
KX_HEX_COLOR(kDarkGray, "666666")
KX_HEX_COLOR(kGray, "777777")
KX_HEX_COLOR(kGray2, "7A7A7A")
KX_HEX_COLOR(kSyntaxLightBlue, "88DDFF")
KX_HEX_COLOR(kSyntaxBlue, "22CCFF")
KX_HEX_COLOR(kSyntaxPurple, "AA88FF")
KX_HEX_COLOR(kSyntaxGreen, "99EE66")
KX_HEX_COLOR(kSyntaxGreen2, "98EC65")
KX_HEX_COLOR(kSyntaxLightGreen, "CCFFCC")
KX_HEX_COLOR(kSyntaxOrange, "FFCC33")
KX_HEX_COLOR(kSyntaxPink, "FF66BB")
KX_HEX_COLOR(kSyntaxRed, "FF5555")
KX_HEX_COLOR(kWhite, "FFFFFF")
KX_HEX_COLOR(kEditorCursorColor, "5C92EB")
KX_HEX_COLOR(kEditorSelectionColor, "333333")
KX_HEX_COLOR(kEditorSelectionColorInactive, "363636")
KX_HEX_COLOR(kEditorTextColor, "FFFFFF")
KX_HEX_COLOR(kEditorInvisiblesColor, "444444")
KX_HEX_COLOR(kEditorInvisiblesSelectedColor, "555555")
KX_HEX_COLOR(kCodePanelBackgroundColor, "141414")

#undef KX_HEX_COLOR

const Color& ColorConstants::kEditorBackgroundColor()
{
    return kBlack();
}

} // namespace kx
