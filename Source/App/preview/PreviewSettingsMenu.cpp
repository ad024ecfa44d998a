#include "App/preview/PreviewSettingsMenu.h"

#include <optional>
#include <string>

#include "App/preview/DeviceManager.h"
#include "Platform/UI/MenuPopup.h"

namespace kx {

namespace {

using Rules = PreviewSettingsRules;
using State = NativeMenuItem::State;
// Where the menu opens, in the settings button's coordinates.
constexpr double popUpOffsetY = 23;

State checkMark(bool on)
{
    return on ? State::on : State::off;
}

} // namespace

PreviewSettingsMenu::PreviewSettingsMenu()
    : menu_(NativeMenu::make("Preview"))
    , canvasItem_(NativeMenuItem::make("Canvas", Rules::selectCanvasModeAction))
    , deviceItem_(NativeMenuItem::make(Rules::deviceOffStateTitle, Rules::clickDeviceMenuItemAction))
    , deviceCategoriesMenu_(NativeMenu::make("Devices"))
    , touchCursorItem_(NativeMenuItem::make("Touch Cursor", Rules::toggleTouchCursorAction))
    , landscapeItem_(NativeMenuItem::make("Landscape", Rules::orientationAction))
    , keepOnTopItem_(NativeMenuItem::make("Keep on Top", toggleKeepOnTopAction))
{
    canvasItem_->setRepresentedObject(std::string(DeviceManager::canvasDevice));
    deviceItem_->setSubmenu(deviceCategoriesMenu_);
    menu_->addItem(canvasItem_);
    menu_->addItem(NativeMenuItem::make("Responsive Canvas", Rules::selectResponsiveCanvasModeAction));
    menu_->addItem(deviceItem_);
    menu_->addItem(NativeMenuItem::separatorItem());
    menu_->addItem(NativeMenuItem::make("Hand", Rules::toggleHandAction));
    menu_->addItem(touchCursorItem_);
    menu_->addItem(landscapeItem_);
    menu_->addItem(NativeMenuItem::separatorItem());
    menu_->addItem(NativeMenuItem::make("Console", Rules::showPreviewInspectorAction));
    menu_->addItem(NativeMenuItem::make("Reload", Rules::reloadPreviewAction, "r"));
    menu_->addItem(NativeMenuItem::make("Full Screen", Rules::togglePreviewFullscreenAction));
    menu_->addItem(NativeMenuItem::separatorItem());
    menu_->addItem(keepOnTopItem_);
}

void PreviewSettingsMenu::showSwitches(bool touchCursor, bool landscape)
{
    touchCursorItem_->setState(checkMark(touchCursor));
    landscapeItem_->setState(checkMark(landscape));
}

void PreviewSettingsMenu::showDeviceItems(const PreviewSettingsRules::DeviceItemLook& look, bool returnsFromCanvas)
{
    canvasItem_->setEnabled(look.canvasEnabled);
    deviceItem_->setEnabled(look.deviceEnabled);
    deviceItem_->setState(checkMark(look.deviceChecked));
    deviceItem_->setTitle(look.deviceTitle);
    deviceItem_->setSendsActionWithSubmenu(returnsFromCanvas);
}

void PreviewSettingsMenu::popUpUnder(GtkWidget* button)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(button);
    int x = 0, y = 0;
    std::optional<Rect> at;
    if (gtk_widget_translate_coordinates(button, toplevel, 0, int(popUpOffsetY), &x, &y))
        at = Rect{{double(x), double(y)}, {1, 1}};
    MenuPopup::popUp(menu_, button, at, [](std::shared_ptr<NativeMenuItem>) {});
}

bool PreviewSettingsMenu::performKeyEquivalent(NativeMenu& menu, const KeyEvent& event)
{
    const auto items = menu.items(); // an action may change the menu
    for (const auto& item : items) {
        if (item->isSeparatorItem() || item->isHidden())
            continue;
        if (item->submenu() && performKeyEquivalent(*item->submenu(), event))
            return true;
        if (item->keyEquivalent().empty() || item->keyEquivalent() != event.charactersIgnoringModifiers)
            continue;
        const ModifierFlags relevant = ModifierFlags::shift | ModifierFlags::option | ModifierFlags::command;
        if ((item->keyEquivalentModifierMask() & relevant) != (event.modifierFlags & relevant))
            continue;
        if (menu.validateItem(*item))
            return menu.performActionForItem(*item);
        return false;
    }
    return false;
}

} // namespace kx
