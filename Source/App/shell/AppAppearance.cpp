#include "App/shell/AppAppearance.h"

#include <gtk/gtk.h>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/NativeMenu.h"

namespace kx {

namespace {

constexpr const char* toggleDarkAppearanceAction = "toggleDarkAppearance:";

Color hex(const char* text)
{
    return Color::colorWithHexColorString(text);
}

#define KX_FIXED_COLOR(name, text)                                  \
    const Color& AppAppearance::Colors::name()                      \
    {                                                               \
        static const Color color = hex(text);                       \
        return color;                                               \
    }

} // namespace

Color AppAppearance::Colors::welcomeBackground()
{
    return hex(shared().isDark() ? "151515" : "FFFFFF");
}

Color AppAppearance::Colors::welcomeRecentsBackground()
{
    return hex(shared().isDark() ? "222222" : "F9F9F9");
}

Color AppAppearance::Colors::welcomeRecentsBorder()
{
    return hex(shared().isDark() ? "333333" : "EAEAEA");
}

KX_FIXED_COLOR(welcomeRecentsSelectionBackground, "0099FF")
KX_FIXED_COLOR(welcomeRecentsSelectionBorder, "00A0F0")
KX_FIXED_COLOR(welcomeRecentsSelectionTitle, "FFFFFF")
KX_FIXED_COLOR(welcomeRecentsSelectionPath, "92D9FF")
KX_FIXED_COLOR(toolbarGradientTop, "444444")
KX_FIXED_COLOR(toolbarGradientBottom, "333333")
KX_FIXED_COLOR(toolbarBottomLine, "2A2A2A")

#undef KX_FIXED_COLOR

const Color& AppAppearance::Colors::toolbarTopLine()
{
    static const Color color = toolbarGradientBottom().blendedColorWithFraction(0.5, toolbarGradientTop());
    return color;
}

AppAppearance& AppAppearance::shared()
{
    // Never released: windows keep appending to it until the process ends.
    static const auto* instance = [] {
        std::shared_ptr<UserDefaults> standard(&UserDefaults::standard(), [](UserDefaults*) {});
        return new std::shared_ptr<AppAppearance>(make(std::move(standard)));
    }();
    return **instance;
}

std::shared_ptr<AppAppearance> AppAppearance::make(std::shared_ptr<UserDefaults> defaults)
{
    std::shared_ptr<AppAppearance> appearance(new AppAppearance(std::move(defaults)));
    std::weak_ptr<AppAppearance> weak = appearance;
    // The change may come from any thread; the switch itself happens on the main thread, and
    // the scheduled work keeps the instance alive until it ran.
    appearance->observation_ = appearance->defaults_->observe(UserDefaultsHasDarkAppearanceKey, [weak] {
        if (auto self = weak.lock())
            MainQueue::async([self] { self->update(); });
    });
    if (MainQueue::isMainThread())
        appearance->applyToGtk();
    else
        MainQueue::async([appearance] { appearance->applyToGtk(); });
    return appearance;
}

AppAppearance::AppAppearance(std::shared_ptr<UserDefaults> defaults)
    : defaults_(std::move(defaults))
    , isDark_(defaults_->boolForKey(UserDefaultsHasDarkAppearanceKey))
{
    addAction(toggleDarkAppearanceAction, [this](Sender sender) { toggleDarkAppearance(sender); });
}

AppAppearance::~AppAppearance() = default;

AppAppearance::Appearance AppAppearance::appearance(UIElement)
{
    // Document windows and popovers wear the same dark look under GTK.
    return shared().isDark() ? Appearance::dark : Appearance::light;
}

void AppAppearance::toggleDarkAppearance(const void*)
{
    defaults_->setBool(UserDefaultsHasDarkAppearanceKey, !defaults_->boolForKey(UserDefaultsHasDarkAppearanceKey));
}

void AppAppearance::setUpMainMenuItem()
{
    auto mainMenu = NativeMenu::mainMenu();
    if (!mainMenu)
        return;
    for (auto& item : mainMenu->items()) {
        if (!item->submenu())
            continue;
        for (auto& entry : item->submenu()->items()) {
            if (entry->action() != toggleDarkAppearanceAction)
                continue;
            entry->setKeyEquivalent("n");
            entry->setKeyEquivalentModifierMask(ModifierFlags::command | ModifierFlags::control);
            entry->setTarget(&shared());
        }
    }
}

bool AppAppearance::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    if (item.action() != toggleDarkAppearanceAction)
        return false;
    if (NativeMenuItem* menuItem = item.asMenuItem())
        menuItem->setTitle(isDark_ ? "Day Mode" : "Night Mode");
    return true;
}

void AppAppearance::update()
{
    const bool stored = defaults_->boolForKey(UserDefaultsHasDarkAppearanceKey);
    if (stored == isDark_)
        return;
    isDark_ = stored;
    applyToGtk();
    // A handler may append handlers; those wait for the next change. Each runs from a copy,
    // since appending can move the list while it runs.
    const std::size_t count = observeHandlers.size();
    for (std::size_t i = 0; i < count; ++i) {
        auto handler = observeHandlers[i];
        if (handler)
            handler();
    }
}

void AppAppearance::applyToGtk() const
{
    // Without a display (before GTK starts, or headless) there is nothing to apply.
    if (!gdk_screen_get_default())
        return;
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings)
        return;
    // Every set loads the theme again, even to the value it has: the launch sets it only when
    // it changes.
    gboolean current = FALSE;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &current, nullptr);
    if (bool(current) != isDark_.load())
        g_object_set(settings, "gtk-application-prefer-dark-theme", static_cast<gboolean>(isDark_.load()), nullptr);
}

} // namespace kx
