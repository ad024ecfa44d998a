#include "App/application/MainMenu.h"

#include <string>

#include "App/web/AppMenu.h"

namespace kx {

namespace {

std::shared_ptr<NativeMenuItem> item(const std::string& title, const std::string& action, const std::string& key = {},
                                     ModifierFlags modifiers = ModifierFlags::command)
{
    auto entry = NativeMenuItem::make(title, action, key);
    entry->setKeyEquivalentModifierMask(modifiers);
    return entry;
}

std::shared_ptr<NativeMenuItem> submenu(const std::string& title, std::initializer_list<std::shared_ptr<NativeMenuItem>> items)
{
    auto menu = NativeMenu::make(title);
    for (const auto& entry : items)
        menu->addItem(entry);
    auto holder = NativeMenuItem::make(title);
    holder->setSubmenu(std::move(menu));
    return holder;
}

} // namespace

std::shared_ptr<NativeMenu> MainMenu::make(bool internal)
{
    auto main = NativeMenu::make("Main Menu");
    main->addItem(submenu(applicationMenuTitle, {
        item("About Korvel X", aboutAction),
        item("Check for Updates…", checkForUpdatesAction),
        NativeMenuItem::separatorItem(),
        item("Account Dashboard…", accountDashboardAction),
        item("Sign Out…", logoutAction),
        NativeMenuItem::separatorItem(),
        item("Quit Korvel X", terminateAction, "q"),
    }));
    main->addItem(submenu(fileMenuTitle, {
        item("New", newDocumentAction, "n"),
        item("Open…", openDocumentAction, "o"),
        item("Open Project Folder…", openProjectFolderAction, "o", ModifierFlags::command | ModifierFlags::shift),
        item("Start Window", showWelcomeWindowAction),
        NativeMenuItem::separatorItem(),
        item("Close", performCloseAction, "w"),
        item("Save", "saveDocument:", "s"),
        item("Save As…", "saveDocumentAs:", "s", ModifierFlags::command | ModifierFlags::shift),
        item("Duplicate", "duplicateDocument:"),
        item("Revert to Saved", "revertDocumentToSaved:"),
        NativeMenuItem::separatorItem(),
        item("Library Version", updateLibraryVersionMenuAction),
        item("Show Snippets Folder", showSnippetsPathAction),
        item("Show Project in Files", showContainerInFinderAction),
        item("Show Project Log", showProjectLogAction),
    }));
    // The editor's Edit menu is built around the placeholder, in this place.
    main->addItem(submenu("Edit", {item(AppMenu::placeholderTitle, "")}));
    main->addItem(submenu("View", {item("Night Mode", "toggleDarkAppearance:")}));
    main->addItem(submenu(AppMenu::windowMenuTitle, {
        item("Minimize", miniaturizeAction, "m"),
        item("Zoom", zoomAction),
    }));
    auto help = submenu(helpMenuTitle, {
        item("Korvel X Help", showHelpKorvelAction),
        item("Previewing Prototypes", showHelpPreviewAction),
        item("Community", showHelpCommunityAction),
        item("Resources", showHelpResourcesAction),
        item("What's New", showHelpUpdatesAction),
    });
    if (internal) {
        help->submenu()->addItem(NativeMenuItem::separatorItem());
        help->submenu()->addItem(item("Crash", crashAction));
    }
    main->addItem(std::move(help));
    return main;
}

} // namespace kx
