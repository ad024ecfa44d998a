// The preview window's settings menu and toggles: each action sends the editor page the
// settings to change, and the window shows the result only when the editor's next selection
// arrives. Enablement and check marks come from the last selection received.
#include <cstdio>

#include "App/preview/PreviewWindowController.h"

namespace kx {

namespace {

using Rules = PreviewSettingsRules;
constexpr const char* toggleKeepOnTopAction = PreviewSettingsMenu::toggleKeepOnTopAction;

} // namespace

void PreviewWindowController::addSettingsActions()
{
    addAction(Rules::settingsButtonPressedAction, [this](Sender) { settingsButtonPressed(); });
    addAction(Rules::selectCanvasModeAction, [this](Sender) { selectCanvasMode(); });
    addAction(Rules::selectResponsiveCanvasModeAction, [this](Sender) { selectResponsiveCanvasMode(); });
    addAction(Rules::clickDeviceMenuItemAction, [this](Sender) { clickDeviceMenuItem(); });
    addAction(Rules::selectSkinAction, [this](Sender sender) {
        NativeMenuItem* item = sender ? sender->asMenuItem() : nullptr;
        selectSkin(item ? item->representedObject() : std::any());
    });
    addAction(Rules::toggleResponsiveAction, [this](Sender) { toggleResponsive(); });
    addAction(Rules::toggleTouchCursorAction, [this](Sender) { toggleTouchCursor(); });
    addAction(Rules::toggleHandAction, [this](Sender) { toggleHand(); });
    // The lock button turned itself on or off before it sent this.
    addAction(Rules::toggleLockAction, [this](Sender) { toggleLock(selectionLockButton().state()); });
    addAction(Rules::showPreviewInspectorAction, [this](Sender) { showPreviewInspector(); });
    addAction(Rules::togglePreviewFullscreenAction, [this](Sender) { togglePreviewFullscreen(); });
    addAction(Rules::reloadPreviewAction, [this](Sender) { reloadPreview(); });
    addAction(toggleKeepOnTopAction, [](Sender) {
        auto& defaults = UserDefaults::standard();
        defaults.setBool(keepOnTopDefault, !defaults.boolForKey(keepOnTopDefault));
    });
}

bool PreviewWindowController::validateSettingsItem(ValidatedUserInterfaceItem& item)
{
    NativeMenuItem* menuItem = item.asMenuItem();
    if (item.action() == toggleKeepOnTopAction) {
        if (menuItem) {
            menuItem->setState(UserDefaults::standard().boolForKey(keepOnTopDefault) ? NativeMenuItem::State::on
                                                                                      : NativeMenuItem::State::off);
        }
        return true;
    }
    const auto documentAnswer = [this, &item] {
        Responder* responder = document_ ? document_->responder() : nullptr;
        // Actions the document does not handle itself are ours to enable.
        if (!responder || !responder->respondsToAction(item.action()))
            return respondsToAction(item.action());
        return responder->validateUserInterfaceItem(item);
    };
    const auto validation = Rules::validate(deviceSelection_.menuContext(), item.action(),
                                            menuItem ? menuItem->representedObject() : std::any(),
                                            menuItem && menuItem == deviceMenuItem(), documentAnswer);
    if (menuItem && validation.state)
        menuItem->setState(*validation.state);
    return validation.enabled;
}

void PreviewWindowController::sendPreviewSettings(const nlohmann::json& settings)
{
    sendEditor("UpdatePreviewSettings", {*selectionId(), settings});
}

void PreviewWindowController::settingsButtonPressed()
{
    setupMenu();
    settingsMenu_->popUpUnder(settingsButton().widget());
}

void PreviewWindowController::selectCanvasMode()
{
    if (!deviceSelection_.canSendSettings())
        return;
    deviceSelection_.rememberDeviceBeforeCanvas();
    handleDeviceMenuSelection(DeviceManager::canvasDevice);
    sendPreviewSettings(Rules::canvasSettings(false));
}

void PreviewWindowController::selectResponsiveCanvasMode()
{
    if (!deviceSelection_.canSendSettings())
        return;
    deviceSelection_.rememberDeviceBeforeCanvas();
    handleDeviceMenuSelection(DeviceManager::canvasDevice);
    sendPreviewSettings(Rules::canvasSettings(true));
}

void PreviewWindowController::clickDeviceMenuItem()
{
    const auto remembered = deviceSelection_.takeDeviceBeforeCanvas();
    if (remembered && deviceIsCanvas())
        handleDeviceMenuSelection(*remembered);
}

void PreviewWindowController::selectSkin(const std::any& representedObject)
{
    if (const auto* menuType = std::any_cast<std::string>(&representedObject))
        handleDeviceMenuSelection(*menuType);
}

void PreviewWindowController::toggleResponsive()
{
    if (deviceSelection_.canSendSettings())
        sendPreviewSettings(Rules::toggleResponsiveSettings(*selection()));
}

void PreviewWindowController::toggleTouchCursor()
{
    if (deviceSelection_.canSendSettings())
        sendPreviewSettings(Rules::toggleTouchCursorSettings(*selection()));
}

void PreviewWindowController::toggleHand()
{
    if (deviceSelection_.canSendSettings())
        sendPreviewSettings(Rules::toggleHandSettings(deviceSelection_.menuContext()));
}

void PreviewWindowController::toggleLock(bool on)
{
    if (!deviceSelection_.canSendSettings()) {
        selectionLockButton().setState(false);
        return;
    }
    sendEditor("SetPreviewSelectionLock", {on});
}

void PreviewWindowController::showPreviewInspector()
{
    if (document_)
        sendEditor("TogglePreviewConsole");
}

void PreviewWindowController::togglePreviewFullscreen()
{
    window_->makeKeyAndOrderFront();
    if (isFullScreen())
        gtk_window_unfullscreen(window_->gtkWindow());
    else
        gtk_window_fullscreen(window_->gtkWindow());
}

void PreviewWindowController::reloadPreview()
{
    // The document reloads its preview its own way when it has one; it calls back `reload`.
    Responder* responder = document_ ? document_->responder() : nullptr;
    if (responder && responder->tryToPerform(Rules::reloadPreviewAction, nullptr))
        return;
    reload();
}

} // namespace kx
