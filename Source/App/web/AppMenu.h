// The menus that the editor page describes: the application's main menu merged from the
// editor's description at launch, the context menus that the page asks for, and the
// accelerator notation of both. A description is a list of MenuItemOptions; an item's role
// names what it does (a hybrid edit action, or a web action that the page performs).
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/UI/Geometry.h"
#include "Platform/UI/GtkAccelerator.h"
#include "Platform/UI/ModifierFlags.h"
#include "Platform/UI/NativeMenu.h"
#include "Services/generated/KorvelServices.h"
#include "Services/runtime/Service.h"

namespace kx {

class AppMenu {
public:
    using MenuItemOptions = KorvelServices::MenuItemOptions;
    using ContextMenuCompletion = CompletionHandler<KorvelServices::ContextMenuResult>;

    // Where an entry of a context menu stands, and whom its choice is reported to.
    struct MenuContext {
        std::int64_t index = 0;         // position in its list
        std::vector<std::int64_t> path; // index path of the list's parent entry; empty at the top
        ContextMenuCompletion completionHandler;
    };

    // The item of a context-menu entry without role: choosing it reports its index path.
    class ContextMenuTarget : public Responder {
    public:
        ContextMenuTarget(std::vector<std::int64_t> indexPath, ContextMenuCompletion completionHandler);
        const std::vector<std::int64_t>& indexPath() const { return indexPath_; }
        void performAction(Sender sender);

    private:
        std::vector<std::int64_t> indexPath_;
        ContextMenuCompletion completionHandler_;
    };

    struct KeyEquivalent {
        std::string keyEquivalent;
        ModifierFlags modifierMask = ModifierFlags::none;
        friend bool operator==(const KeyEquivalent&, const KeyEquivalent&) = default;
    };

    static constexpr const char* windowMenuTitle = "Window";
    static constexpr const char* placeholderTitle = "<AppMenu Placeholder>";
    static constexpr const char* startDictationAction = "startDictation:";

    // Merges the editor's `appMenu` (AppInfo's app globals) into the application's main menu:
    // the page's menus go just before "Window" in their order, and a menu of the same title
    // that holds a placeholder item is rebuilt around the page's items. Called once at launch.
    static void initializeMainMenu();
    static void initializeMainMenu(NativeMenu& mainMenu, const std::vector<MenuItemOptions>& appMenu);

    // One item of a description; with a context, one item of a context menu.
    static std::shared_ptr<NativeMenuItem> menuItem(const MenuItemOptions& options,
                                                    const std::optional<MenuContext>& context = std::nullopt);

    // The pop-up menu of `entries`; choosing an entry without role reports its index path.
    static std::shared_ptr<NativeMenu> contextMenu(const std::vector<MenuItemOptions>& entries,
                                                   ContextMenuCompletion completionHandler);
    // Shows `entries` at `location` (in the coordinates of `view`'s window; at the pointer when
    // absent) and completes exactly once: with the chosen entry's index path, or with the empty
    // path when the menu closes without a choice or the choice was an entry with a role (its
    // action has run by then).
    static void showContextMenu(const std::vector<MenuItemOptions>& entries, GtkWidget* view,
                                std::optional<Point> location, ContextMenuCompletion completionHandler);

    // Key and modifier names joined by "+" ("CmdOrCtrl+Shift+Z", "Backspace") as a menu item's
    // key equivalent and modifier mask. Names are case-sensitive; any other piece is appended
    // to the key equivalent in lower case. Never fails.
    static KeyEquivalent keyEquivalentAndModifierMask(std::string_view accelerator);
    // The same accelerator as GTK takes it; nullopt when it names no single key.
    static std::optional<GtkAccelerator> gtkAccelerator(std::string_view accelerator);

private:
    static void fillSubmenu(NativeMenu& menu, const std::optional<MenuContext>& context,
                            const std::vector<MenuItemOptions>& entries);
    static void rebuild(NativeMenu& mainMenu, int resourceIndex, NativeMenuItem& newItem);
};

} // namespace kx
