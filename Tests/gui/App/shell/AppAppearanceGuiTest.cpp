#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/shell/AppAppearance.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace {

bool prefersDark()
{
    gboolean dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    return dark;
}

} // namespace

TEST(AppAppearanceGui, TheModeReachesGtkAtOnceAndOnEveryChange)
{
    kxtest::TemporaryDirectory dir;
    auto defaults = std::make_shared<kx::UserDefaults>(dir / "defaults.json");
    defaults->setBool(kx::UserDefaultsHasDarkAppearanceKey, true);
    const bool before = prefersDark();

    auto appearance = kx::AppAppearance::make(defaults);
    EXPECT_TRUE(prefersDark());
    bool darkSeenByHandler = true;
    appearance->observeHandlers.push_back([&] { darkSeenByHandler = prefersDark(); });
    appearance->toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !appearance->isDark(); }));
    EXPECT_FALSE(prefersDark());
    EXPECT_FALSE(darkSeenByHandler); // windows re-apply their look after GTK switched

    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", before, nullptr);
}

// Setting GTK's preference loads the theme again even to the value it has: a launch in the look
// GTK already shows leaves it alone; a change still reaches it.
TEST(AppAppearanceGui, TheLookGtkAlreadyHasIsNotSetAgain)
{
    kxtest::TemporaryDirectory dir;
    auto defaults = std::make_shared<kx::UserDefaults>(dir / "defaults.json");
    const bool before = prefersDark();
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", FALSE, nullptr);
    int notified = 0;
    const gulong handler = g_signal_connect_swapped(gtk_settings_get_default(), "notify::gtk-application-prefer-dark-theme",
                                                    G_CALLBACK(+[](int* count) { ++*count; }), &notified);

    auto appearance = kx::AppAppearance::make(defaults);
    EXPECT_EQ(notified, 0);
    appearance->toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance->isDark(); }));
    EXPECT_TRUE(prefersDark());
    EXPECT_EQ(notified, 1);

    g_signal_handler_disconnect(gtk_settings_get_default(), handler);
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", before, nullptr);
}
