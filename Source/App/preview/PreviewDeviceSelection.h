// The selection the editor sent last, and the device the preview window shows for it: the
// device's descriptor (one carried inline first, else the catalogue's), skin, hand, orientation
// and size, read afresh from the selection at every use (nothing announces their changes), and
// the device to go back to after the canvas. No widgets, so it can be checked without a display.
//
// "Canvas" is the device type of no device frame; whether a missing type counts as "Canvas"
// differs from value to value, and each says which. Main thread only.
#pragma once

#include <optional>
#include <string>

#include "App/preview/DeviceManager.h"
#include "App/preview/NimbetSelection.h"
#include "App/preview/PreviewSettingsRules.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class PreviewDeviceSelection {
public:
    // `manager` is the document's device catalogue; without a document there is no descriptor.
    PreviewDeviceSelection(const DeviceManager& manager, bool hasDocument);

    // Replaces the selection by the decoded preview data; none when it does not read (why goes to
    // standard output). A selection of another id forgets the device remembered for after the
    // canvas.
    void take(const std::string& previewData);
    const std::optional<NimbetSelection>& selection() const { return selection_; }
    bool hasSelection() const { return selection_.has_value(); }
    std::optional<std::string> selectionId() const;
    // A document and a selection with an id: what a setting sent to the editor needs.
    bool canSendSettings() const;

    // The inline descriptor, else the catalogue's entry of the type (missing: "Canvas").
    const DeviceDescriptor* deviceDescriptor() const;
    // No selection or type, or "Canvas".
    bool deviceIsCanvas() const;
    // None in canvas mode.
    std::optional<std::string> deviceSkin() const;
    std::string deviceMenuType() const;
    // -1 without a zoom.
    double deviceZoom() const;
    bool deviceResponsive() const;
    bool deviceRotate() const;
    // The bezel on, for a type that is missing or not "Canvas".
    bool deviceShowBezel() const;
    // A hand that is not empty.
    std::optional<std::string> deviceHand() const;
    bool deviceShowHand() const;
    bool deviceTouchCursor() const;
    // Both sides of the descriptor's screen not 0; deviceSize reports them either way.
    bool deviceHasSize() const;
    Size deviceSize() const;
    bool deviceHasHand() const;
    bool deviceCanRotate() const;
    // Responsive settings without a device type: the window takes any size.
    bool isFreeResizing() const;
    Size intrinsicContentSize() const;
    PreviewMenuContext menuContext() const;

    // The menu type to go back to from the canvas.
    const std::optional<std::string>& postCanvasModeDeviceMenuType() const { return postCanvasModeDeviceMenuType_; }
    // Remembers the device shown now ("Canvas" when already there).
    void rememberDeviceBeforeCanvas() { postCanvasModeDeviceMenuType_ = deviceMenuType(); }
    // The remembered device, forgotten here.
    std::optional<std::string> takeDeviceBeforeCanvas();

private:
    const NimbetPreviewSettings* settings() const { return selection_ ? &selection_->metadata.settings : nullptr; }

    const DeviceManager& manager_;
    bool hasDocument_;
    std::optional<NimbetSelection> selection_;
    std::optional<std::string> postCanvasModeDeviceMenuType_;
};

} // namespace kx
