// The shell's own day/night setting, independent of the desktop's: the user default
// "HasDarkAppearance". The shared instance follows the default, applies the mode to GTK's
// application-wide dark-theme preference and tells the windows through `observeHandlers`.
//
// Windows read `isDark()` and the palette when they draw, apply their look at once and append
// a handler that applies it again; handlers are never removed, so they hold their window
// weakly. Everything but the observation of the default runs on the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "App/shell/Color.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Responder.h"

namespace kx {

inline constexpr const char* UserDefaultsHasDarkAppearanceKey = "HasDarkAppearance";

// As a responder it answers the main menu's day/night command, "toggleDarkAppearance:".
class AppAppearance : public Responder, public std::enable_shared_from_this<AppAppearance> {
public:
    enum class UIElement { documentWindow, popover };
    // The look a window or popover wears.
    enum class Appearance { light, dark };

    // The palette of the start window and the toolbar.
    struct Colors {
        // These follow the mode and are worked out on every read.
        static Color welcomeBackground();
        static Color welcomeRecentsBackground();
        static Color welcomeRecentsBorder();
        // These are the same in both modes.
        static const Color& welcomeRecentsSelectionBackground();
        static const Color& welcomeRecentsSelectionBorder();
        static const Color& welcomeRecentsSelectionTitle();
        static const Color& welcomeRecentsSelectionPath();
        static const Color& toolbarGradientTop();
        static const Color& toolbarGradientBottom();
        static const Color& toolbarBottomLine();
        static const Color& toolbarTopLine(); // half-way from the gradient's bottom to its top
    };

    // Made on first use over the standard user defaults; lives as long as the process.
    static AppAppearance& shared();
    // An instance over other defaults (tests). It observes them until it is destroyed.
    static std::shared_ptr<AppAppearance> make(std::shared_ptr<UserDefaults> defaults);
    ~AppAppearance();

    bool isDark() const { return isDark_; }

    // Called in order, on the main thread, after each change of mode. Main thread only.
    std::vector<std::function<void()>> observeHandlers;

    // What a window (or popover) of the shared instance's current mode wears.
    static Appearance appearance(UIElement element);

    // Writes the opposite of the stored mode; the observation of the default does the rest.
    void toggleDarkAppearance(const void* sender = nullptr);

    // Gives the day/night command of each main-menu submenu (one level down) its key
    // equivalent, Control+N, and the shared instance as target. Repeating it changes nothing.
    static void setUpMainMenuItem();
    // The command is always available; its title names the mode it switches to. Anything
    // else is not this object's to enable.
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;

    // Takes the stored mode; when it differs from `isDark()`, switches and runs the handlers.
    // Main thread only.
    void update();

private:
    explicit AppAppearance(std::shared_ptr<UserDefaults> defaults);
    void applyToGtk() const;

    std::shared_ptr<UserDefaults> defaults_;
    UserDefaults::Token observation_;
    std::atomic<bool> isDark_ = false;
};

} // namespace kx
