// The preview window's settings menu, popped up under its settings button: the canvas and device
// items (the devices' categories are filled by the device settings menu), the switches, the
// window's commands and "Keep on Top". Its items send their actions along the window's
// responder chain; what their marks and titles show it is told, from the last selection. It
// also has the window's key equivalents. Main thread only.
#pragma once

#include <memory>

#include <gtk/gtk.h>

#include "App/preview/PreviewSettingsRules.h"
#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/NativeMenuItem.h"

namespace kx {

class PreviewSettingsMenu {
public:
    static constexpr const char* toggleKeepOnTopAction = "toggleKeepOnTop:";

    PreviewSettingsMenu();
    PreviewSettingsMenu(const PreviewSettingsMenu&) = delete;
    PreviewSettingsMenu& operator=(const PreviewSettingsMenu&) = delete;

    const std::shared_ptr<NativeMenu>& menu() const { return menu_; }
    NativeMenuItem* canvasItem() const { return canvasItem_.get(); }
    NativeMenuItem* deviceItem() const { return deviceItem_.get(); }
    NativeMenu* deviceCategoriesMenu() const { return deviceCategoriesMenu_.get(); }
    NativeMenuItem* touchCursorItem() const { return touchCursorItem_.get(); }
    NativeMenuItem* landscapeItem() const { return landscapeItem_.get(); }
    NativeMenuItem* keepOnTopItem() const { return keepOnTopItem_.get(); }

    // The marks of the switches that follow the selection.
    void showSwitches(bool touchCursor, bool landscape);
    // The canvas and device items as `look` says. With `returnsFromCanvas` (titled with the
    // device used before the canvas) a click on the device item goes back to it; otherwise the
    // click opens the devices, as on any item with a submenu (pointing at it always does).
    void showDeviceItems(const PreviewSettingsRules::DeviceItemLook& look, bool returnsFromCanvas);
    void popUpUnder(GtkWidget* button);
    // Performs the enabled item whose key equivalent `event` is; false when none takes it.
    bool performKeyEquivalent(const KeyEvent& event) { return performKeyEquivalent(*menu_, event); }

private:
    static bool performKeyEquivalent(NativeMenu& menu, const KeyEvent& event);

    std::shared_ptr<NativeMenu> menu_;
    std::shared_ptr<NativeMenuItem> canvasItem_;
    std::shared_ptr<NativeMenuItem> deviceItem_;
    std::shared_ptr<NativeMenu> deviceCategoriesMenu_;
    std::shared_ptr<NativeMenuItem> touchCursorItem_;
    std::shared_ptr<NativeMenuItem> landscapeItem_;
    std::shared_ptr<NativeMenuItem> keepOnTopItem_;
};

} // namespace kx
