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
