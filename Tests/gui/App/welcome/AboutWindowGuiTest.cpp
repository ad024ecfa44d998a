// The About window of a beta build: its texts, the version that switches on a click, the
// version line it copies, its links, and its look by day and by night.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/shell/AppInfo.h"
#include "App/welcome/RKAboutWindow.h"
#include "Platform/UI/Workspace.h"
#include "gui/App/welcome/WelcomeTestSupport.h"
#include "support/ClipboardContents.h"
#include "support/SyntheticInput.h"
#include "support/UserInput.h"

namespace {

std::shared_ptr<kx::AppInfo> infoWith(nlohmann::json facts)
{
    return std::make_shared<kx::AppInfo>(kx::Bundle(kx::Bundle::main().resourcePath(), std::move(facts)), "KorvelX");
}

std::string text(GtkLabel* label)
{
    return gtk_label_get_text(label);
}

class AboutWindowGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        kxtest::setDark(false);
        kx::Workspace::shared().setURLOpenerForTesting([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override
    {
        controller.reset();
        kx::Workspace::shared().setURLOpenerForTesting(nullptr);
        kxtest::setDark(false);
    }

    void show(nlohmann::json facts)
    {
        controller = std::make_unique<kx::RKAboutWindow>(infoWith(std::move(facts)));
        controller->showWindow();
        ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(controller->window()->widget()); }));
    }

    // A right click where the pointer is: its menu offers "Copy Version" alone, which puts
    // `expected` on the clipboard.
    void expectRightClickCopies(const std::string& expected)
    {
        kxtest::clickButton(3);
        ASSERT_TRUE(kxtest::activateTheOnlyMenuItem("Copy Version"));
        GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::clipboardText(clipboard) == expected; }));
    }

    std::unique_ptr<kx::RKAboutWindow> controller;
    std::vector<std::string> opened;
};

} // namespace

TEST_F(AboutWindowGui, ShowsTheVersionAndSwitchesItToTheBuildNumberOnAClick)
{
    show({{"CFBundleIdentifier", "com.korvel.x.beta"}, {"CFBundleShortVersionString", "beta/1.2"},
          {"CFBundleVersion", "4711"}, {"KorvelWebsiteURL", "https://korvel.test"}});
    kx::AboutWindow& window = *controller->window();
    EXPECT_EQ(text(window.titleLabel()), "Korvel X");
    EXPECT_EQ(text(window.versionLabel()), "beta/1.2");
    EXPECT_EQ(text(window.extraVersionInfoLabel()), "Beta");
    // The icon, with the pixels of the window's scale.
    cairo_surface_t* icon = nullptr;
    g_object_get(window.korvelIconView(), "surface", &icon, nullptr);
    ASSERT_NE(icon, nullptr);
    double iconScale = 0;
    cairo_surface_get_device_scale(icon, &iconScale, nullptr);
    EXPECT_EQ(iconScale, gtk_widget_get_scale_factor(GTK_WIDGET(window.korvelIconView())));
    EXPECT_EQ(cairo_image_surface_get_width(icon), int(kx::AboutWindow::iconSize * iconScale));
    cairo_surface_destroy(icon);
    kxtest::settle();
    kxtest::saveWindowScreenshot(window.widget(), "about-day");

    // A click on the version: the build number; again: the version. A click elsewhere: nothing.
    GtkWidget* version = window.versionLabelArea();
    kxtest::moveTo(kxtest::centreOf(version));
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return text(window.versionLabel()) == "4711"; }));
    const kx::Point elsewhere = kxtest::onScreen(GTK_WIDGET(window.titleLabel()), 2, 2);
    kxtest::moveTo(elsewhere);
    // A press there starts moving the window. With no window manager GDK moves it itself, under
    // a grab of the pointer that ends with a release it sees: a release that came before the
    // grab would leave it in place, to take the clicks below. So the button is let go once the
    // grab is there, as a person's click is let go after the press has been seen.
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    kxtest::pressButton();
    (void)kxtest::spinUntil([&] { return gdk_display_device_is_grabbed(gdk_display_get_default(), pointer); });
    kxtest::releaseButton();
    kxtest::settle();
    EXPECT_EQ(text(window.versionLabel()), "4711");
    // Closed by Escape (not by Control+Escape) and shown again, it keeps showing the build number.
    kxtest::pressKey(window.widget(), GDK_KEY_Escape, GDK_CONTROL_MASK);
    kxtest::settle();
    EXPECT_TRUE(controller->isVisible());
    kxtest::pressKey(window.widget(), GDK_KEY_Escape);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !controller->isVisible(); }));
    controller->showWindow();
    EXPECT_EQ(text(window.versionLabel()), "4711");
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(version); }));
    kxtest::moveTo(kxtest::centreOf(version));
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return text(window.versionLabel()) == "beta/1.2"; }));

    kxtest::setDark(true);
    kxtest::settle();
    kxtest::saveWindowScreenshot(window.widget(), "about-night");
}

TEST_F(AboutWindowGui, ARightClickCopiesOneLineNamingTheBuild)
{
    show({{"CFBundleIdentifier", "com.korvel.x.beta"}, {"CFBundleShortVersionString", "beta/1.2"}});
    kxtest::moveTo(kxtest::onScreen(controller->window()->widget(), 40, 200));
    expectRightClickCopies("Korvel X Beta: beta/1.2");
}

TEST_F(AboutWindowGui, VersionLinesOfOtherBuilds)
{
    EXPECT_EQ(kx::RKAboutWindow(infoWith({{"CFBundleIdentifier", "com.korvel.x"}, {"CFBundleShortVersionString", "2.1"}}))
                  .versionDescription(),
              "Korvel X : 2.1");
    EXPECT_EQ(kx::RKAboutWindow(infoWith({{"CFBundleIdentifier", "com.korvel.x"}})).versionDescription(),
              "Korvel X : Unknown Version");
    EXPECT_EQ(kx::RKAboutWindow(infoWith({{"CFBundleIdentifier", "com.korvel.x"}, {"CFBundleShortVersionString", 3}}))
                  .versionDescription(),
              "Korvel X : 3");
    // A version that is no text leaves the label as it was.
    show({{"CFBundleIdentifier", "com.korvel.x"}, {"CFBundleShortVersionString", 3}});
    EXPECT_EQ(text(controller->window()->versionLabel()), "");
    EXPECT_EQ(text(controller->window()->extraVersionInfoLabel()), "");
    // No empty line where the build has no name.
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(controller->window()->extraVersionInfoLabel())));
}

TEST_F(AboutWindowGui, TheLinksOpenTheAcknowledgementsAndTheTermsAndARightClickOnThemIsTheWindows)
{
    show({{"CFBundleIdentifier", "com.korvel.x.beta"}, {"CFBundleShortVersionString", "beta/1.2"},
          {"KorvelWebsiteURL", "https://korvel.test"}});
    kx::AboutWindow& window = *controller->window();
    // The desktop lists the window by its title, though its bar shows none.
    EXPECT_STREQ(gtk_window_get_title(window.gtkWindow()), "About Korvel X");
    kxtest::moveTo(kxtest::centreOf(GTK_WIDGET(window.acknowledgmentsLink())));
    kxtest::clickButton();
    kxtest::moveTo(kxtest::centreOf(GTK_WIDGET(window.termsOfServiceLink())));
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return opened.size() == 2; }));
    const std::string acknowledgements = opened[0];
    EXPECT_EQ(acknowledgements.rfind("file://", 0), 0u);
    EXPECT_NE(acknowledgements.find("/Resources/Acknowledgements.md"), std::string::npos);
    EXPECT_EQ(opened[1], "https://korvel.test/tos/");

    // A right click on a link offers what a right click anywhere offers: the version line,
    // not the link's address.
    expectRightClickCopies("Korvel X Beta: beta/1.2");
    EXPECT_EQ(opened.size(), 2u);

    // Without the site or the file, nothing opens.
    opened.clear();
    kx::RKAboutWindow bare(std::make_shared<kx::AppInfo>(
        kx::Bundle("/nonexistent", {{"CFBundleIdentifier", "com.korvel.x"}}), "KorvelX"));
    bare.acknowledgmentsClicked();
    bare.termsOfServiceClicked();
    EXPECT_TRUE(opened.empty());
}
