// The windows' default icon: the application's icon of the user's theme once it is installed
// there, until then the bundle's SVG drawn at the theme's sizes; a window shown takes it.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <algorithm>

#include "App/application/ApplicationIcon.h"
#include "Platform/Foundation/GObjectRef.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::ApplicationIcon;

namespace {

std::vector<int> defaultIconWidths()
{
    std::vector<int> widths;
    GList* list = gtk_window_get_default_icon_list();
    for (GList* item = list; item; item = item->next)
        widths.push_back(gdk_pixbuf_get_width(GDK_PIXBUF(item->data)));
    g_list_free(list);
    return widths;
}

// The widths of the icons the window manager is given (_NET_WM_ICON: width, height, then
// the pixels, for each icon).
std::vector<int> iconSizesOnScreen(GtkWidget* window)
{
    std::vector<int> widths;
    GdkAtom type = GDK_NONE;
    int format = 0;
    int length = 0;
    guchar* data = nullptr;
    if (!gdk_property_get(gtk_widget_get_window(window), gdk_atom_intern_static_string("_NET_WM_ICON"),
                          gdk_atom_intern_static_string("CARDINAL"), 0, 64 * 1024 * 1024, FALSE, &type, &format, &length, &data))
        return widths;
    // Thirty-two-bit items arrive as longs.
    const auto* items = reinterpret_cast<const long*>(data);
    const std::size_t count = format == 32 ? std::size_t(length) / sizeof(long) : 0;
    for (std::size_t at = 0; at + 2 <= count;) {
        const long width = items[at], height = items[at + 1];
        if (width <= 0 || height <= 0)
            break;
        widths.push_back(int(width));
        at += 2 + std::size_t(width * height);
    }
    g_free(data);
    return widths;
}

} // namespace

TEST(ApplicationIcon, WindowsTakeTheThemesIconOrElseTheBundlesFile)
{
    const std::string id = "com.korvel.x.icon-test";
    const fs::path svg = kxtest::testSourceDir().parent_path() / "Resources" / "images" / "AppIcon.svg";
    const fs::path dataHome = g_get_user_data_dir();
    ASSERT_NE(dataHome.string().find("kxtest"), std::string::npos) << "not the test's own home: " << dataHome;

    // Not in the theme: the file, drawn at every size.
    ApplicationIcon::setDefaultWindowIcon(id, svg);
    EXPECT_EQ(defaultIconWidths(), ApplicationIcon::pngSizes());

    // Installed into the user's theme: the icon by its name, which a window shown now carries.
    ASSERT_TRUE(ApplicationIcon::install(dataHome, id, svg));
    ASSERT_TRUE(kxtest::spinUntil([&] {
        gtk_icon_theme_rescan_if_needed(gtk_icon_theme_get_default());
        return gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), id.c_str());
    }));
    ApplicationIcon::setDefaultWindowIcon(id, svg);
    EXPECT_STREQ(gtk_window_get_default_icon_name(), id.c_str());
    auto window = kx::GObjectRef<GtkWidget>::retain(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_widget_show(window.get());
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(window.get()); }));
    EXPECT_TRUE(kxtest::spinUntil([&] { return !iconSizesOnScreen(window.get()).empty(); }));
    const auto sizes = iconSizesOnScreen(window.get());
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), 48), sizes.end());
    gtk_widget_destroy(window.get());

    ApplicationIcon::remove(dataHome, id);
    EXPECT_FALSE(fs::exists(dataHome / ApplicationIcon::scalablePath(id)));
    gtk_window_set_default_icon_list(nullptr);
}

// The launch sets the icon once its first window is on screen: that window takes it then.
TEST(ApplicationIcon, AWindowShownBeforeTheIconTakesIt)
{
    const std::string id = "com.korvel.x.icon-later-test";
    const fs::path svg = kxtest::testSourceDir().parent_path() / "Resources" / "images" / "AppIcon.svg";
    gtk_window_set_default_icon_name(nullptr); // no default, neither named nor drawn

    auto first = kx::GObjectRef<GtkWidget>::retain(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_widget_show(first.get());
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(first.get()); }));
    EXPECT_TRUE(iconSizesOnScreen(first.get()).empty());
    ApplicationIcon::setDefaultWindowIcon(id, svg);
    EXPECT_TRUE(kxtest::spinUntil([&] { return iconSizesOnScreen(first.get()).size() == ApplicationIcon::pngSizes().size(); }));
    // One that is made later takes the default as before.
    auto second = kx::GObjectRef<GtkWidget>::retain(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_widget_show(second.get());
    EXPECT_TRUE(kxtest::spinUntil([&] { return iconSizesOnScreen(second.get()).size() == ApplicationIcon::pngSizes().size(); }));

    gtk_widget_destroy(first.get());
    gtk_widget_destroy(second.get());
    gtk_window_set_default_icon_name(nullptr);
}
