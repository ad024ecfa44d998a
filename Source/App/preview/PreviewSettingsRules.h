// What the preview window's settings menu shows and what its actions ask of the editor, worked
// out from the last selection the editor sent alone: enablement and check marks of the items,
// the device item's title, and the partial settings objects that "UpdatePreviewSettings"
// carries. The window never changes its device itself; it sends these objects and shows what
// the next selection says. No widgets here, so every rule can be checked without a display.
#pragma once

#include <any>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "App/preview/DeviceManager.h"
#include "App/preview/NimbetSelection.h"
#include "Platform/UI/NativeMenuItem.h"

namespace kx {

// The window's device state as the rules read it.
struct PreviewMenuContext {
    bool hasDocument = false;
    const NimbetSelection* selection = nullptr;
    const DeviceDescriptor* descriptor = nullptr; // the device shown (inline one first)
    bool isCanvas = true;
    std::string menuType = DeviceManager::canvasDevice;
    std::optional<std::string> skin; // none in canvas mode
};

class PreviewSettingsRules {
public:
    static constexpr const char* selectCanvasModeAction = "selectCanvasMode:";
    static constexpr const char* selectResponsiveCanvasModeAction = "selectResponsiveCanvasMode:";
    static constexpr const char* clickDeviceMenuItemAction = "clickDeviceMenuItem:";
    static constexpr const char* selectSkinAction = "selectSkin:";
    static constexpr const char* toggleResponsiveAction = "toggleResponsive:";
    static constexpr const char* toggleTouchCursorAction = "toggleTouchCursor:";
    static constexpr const char* toggleHandAction = "toggleHand:";
    static constexpr const char* orientationAction = "orientationButtonPressed:";
    static constexpr const char* toggleLockAction = "toggleLock:";
    static constexpr const char* showPreviewInspectorAction = "showPreviewInspector:";
    static constexpr const char* togglePreviewFullscreenAction = "togglePreviewFullscreen:";
    static constexpr const char* reloadPreviewAction = "reloadPreview:";
    static constexpr const char* settingsButtonPressedAction = "settingsButtonPressed:";
    static constexpr const char* namelessDeviceTitle = "Nameless Device";
    static constexpr const char* deviceOffStateTitle = "Device";

    struct Validation {
        bool enabled = false;
        std::optional<NativeMenuItem::State> state; // none: the item's mark is left alone
    };
    // `documentAnswer` is the document's own validation of the item, asked only when a rule
    // needs it.
    static Validation validate(const PreviewMenuContext& context, const std::string& action,
                               const std::any& representedObject, bool isDeviceMenuItem,
                               const std::function<bool()>& documentAnswer);

    struct DeviceItemLook {
        bool canvasEnabled = false;
        bool deviceEnabled = false;
        bool deviceChecked = false;
        std::string deviceTitle;
    };
    static DeviceItemLook deviceItemLook(const PreviewMenuContext& context,
                                         const std::optional<std::string>& postCanvasModeDeviceMenuType,
                                         const DeviceManager& manager);
    // A descriptor's name in menus: its selector, else its title.
    static std::string deviceName(const DeviceDescriptor& descriptor);

    // The device (and skin, when the catalogue's device has it) of `menuType`: always
    // "deviceType", "skin" and "bezel".
    static nlohmann::json deviceSettings(const std::string& menuType, const DeviceManager& manager);
    // The second message of a switch to the canvas; the first is the device settings of "Canvas".
    static nlohmann::json canvasSettings(bool responsive);
    static nlohmann::json toggleResponsiveSettings(const NimbetSelection& selection);
    static nlohmann::json toggleTouchCursorSettings(const NimbetSelection& selection);
    static nlohmann::json rotateSettings(const NimbetSelection& selection);
    // The next hand of the device (its hands in reverse catalogue order), none after the last,
    // and the first one with the bezel and a skin when no known hand is shown.
    static nlohmann::json toggleHandSettings(const PreviewMenuContext& context);
};

} // namespace kx
