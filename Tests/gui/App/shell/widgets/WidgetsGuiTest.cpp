// The widgets under a real pointer: the titleless window moves by its background and its drag
// regions but not by its buttons; buttons act only on a release over them; clicks and double
// clicks; the toolbar's night look.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/preview/PreviewWindowToolbarButtonWithTint.h"
#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/AntiAliasedButton.h"
#include "App/shell/widgets/WelcomeWindowButton.h"
#include "App/shell/widgets/AntiAliasedLabel.h"
#include "App/shell/widgets/ClickableView.h"
#include "App/shell/widgets/DraggableImageView.h"
#include "App/shell/widgets/ImageMouseOverButton.h"
#include "App/shell/widgets/SimpleButton.h"
#include "App/shell/widgets/ToolbarAccessoryView.h"
#include "App/shell/widgets/ToolbarButton.h"
#include "App/shell/widgets/WindowDragView.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "support/TestPaths.h"
#include "support/UserInput.h"

using kx::Color;
using kxtest::hex;
using kx::Point;
using kxtest::centreOf;
using kxtest::drag;
using kxtest::moveTo;
using kxtest::onScreen;
using kxtest::windowPosition;

namespace {

class WidgetsGui : public kxtest::WidgetWindowTest {
};

} // namespace

TEST_F(WidgetsGui, ATitlelessWindowMovesByItsBackgroundAndItsLabelsButNotByItsButtons)
{
    GtkWindow* gtkWindow = window->gtkWindow();
    EXPECT_FALSE(gtk_window_get_resizable(gtkWindow));
    EXPECT_FALSE(gtk_window_get_deletable(gtkWindow));
    GtkWidget* titleBar = gtk_window_get_titlebar(gtkWindow);
    ASSERT_NE(titleBar, nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(titleBar)); // nothing to show, no title, no buttons

    kx::SimpleButton button;
    button.setTitle("Sign In");
    int clicks = 0;
    button.setAction([&] { ++clicks; });
    place(button, {{200, 200}, {120, 40}});
    kx::AntiAliasedLabel label("No Recent Files", kx::Font::systemFont(12), std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt);
    place(label, {{20, 200}, {150, 30}});
    kxtest::saveScreenshot("titleless-window");

    drag(onScreen(window->widget(), 50, 50), 80, 60);
    EXPECT_TRUE(kxtest::spinUntil([&] { return windowPosition(window->widget()) == (Point{180, 160}); }));

    drag(centreOf(label.widget()), -30, -20);
    EXPECT_TRUE(kxtest::spinUntil([&] { return windowPosition(window->widget()) == (Point{150, 140}); }));

    drag(centreOf(button.widget()), 40, 40);
    EXPECT_EQ(windowPosition(window->widget()), (Point{150, 140}));
    EXPECT_EQ(clicks, 0); // released away from it
}

TEST_F(WidgetsGui, DragRegionsMoveAWindowThatIsNotMovableByItsBackground)
{
    window->setMovableByWindowBackground(false);
    kx::WindowDragView strip;
    place(strip, {{0, 0}, {400, 65}});
    auto image = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 20, 20));
    kx::DraggableImageView picture;
    picture.setImage(image.get());
    place(picture, {{10, 100}, {40, 40}});

    drag(onScreen(window->widget(), 200, 200), 50, 50);
    EXPECT_EQ(windowPosition(window->widget()), (Point{100, 100}));
    drag(centreOf(strip.widget()), 50, 30);
    EXPECT_TRUE(kxtest::spinUntil([&] { return windowPosition(window->widget()) == (Point{150, 130}); }));
    drag(centreOf(picture.widget()), -20, 10);
    EXPECT_TRUE(kxtest::spinUntil([&] { return windowPosition(window->widget()) == (Point{130, 140}); }));
}

TEST_F(WidgetsGui, ButtonsActOnlyOnAReleaseOverThemAndTheirLookFollowsThePointer)
{
    kx::SimpleButton simple;
    simple.setBackgroundColor(hex("FFFFFF"));
    simple.setBackgroundColorPressed(hex("0099FF"));
    int simpleClicks = 0;
    simple.setAction([&] { ++simpleClicks; });
    place(simple, {{20, 20}, {120, 40}});

    const Point inside = centreOf(simple.widget());
    const Point outside{inside.x, inside.y + 100};
    moveTo(inside);
    kxtest::pressButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return simple.buttonState() == kx::SimpleButtonState::pressed; }));
    EXPECT_EQ(simple.layer().backgroundColor, hex("0099FF"));
    moveTo(outside);
    EXPECT_TRUE(kxtest::spinUntil([&] { return simple.buttonState() == kx::SimpleButtonState::normal; }));
    EXPECT_EQ(simple.layer().backgroundColor, hex("FFFFFF"));
    moveTo(inside);
    EXPECT_TRUE(kxtest::spinUntil([&] { return simple.buttonState() == kx::SimpleButtonState::pressed; }));
    kxtest::releaseButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return simpleClicks == 1; }));
    EXPECT_EQ(simple.buttonState(), kx::SimpleButtonState::normal);

    // Released outside: nothing. Disabled: nothing either.
    moveTo(inside);
    kxtest::pressButton();
    moveTo(outside);
    kxtest::releaseButton();
    simple.setEnabled(false);
    moveTo(inside);
    kxtest::clickButton();
    kxtest::settle();
    EXPECT_EQ(simpleClicks, 1);

    // The hover button: highlight while held over it, rest tint otherwise.
    kx::ImageMouseOverButton close("close");
    ASSERT_NE(close.image(), nullptr);
    close.setTintColor(hex("BBBBBB"));
    close.setHighlightTintColor(hex("666666"));
    int closeClicks = 0;
    close.setAction([&] { ++closeClicks; });
    place(close, {{-2, -1}, {30, 30}});
    const Point closeCentre = centreOf(close.widget());
    moveTo(closeCentre);
    kxtest::pressButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return close.currentTint() == hex("666666"); }));
    moveTo({closeCentre.x + 60, closeCentre.y + 60});
    EXPECT_TRUE(kxtest::spinUntil([&] { return close.currentTint() == hex("BBBBBB"); }));
    moveTo(closeCentre);
    kxtest::releaseButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return closeClicks == 1; }));
    EXPECT_EQ(close.currentTint(), hex("BBBBBB"));

    // Without an image it shows nothing and still works.
    kx::ImageMouseOverButton blank("no-such-image");
    EXPECT_EQ(blank.image(), nullptr);
    int blankClicks = 0;
    blank.setAction([&] { ++blankClicks; });
    place(blank, {{300, 20}, {30, 30}});
    moveTo(centreOf(blank.widget()));
    kxtest::clickButton();
    EXPECT_TRUE(kxtest::spinUntil([&] { return blankClicks == 1; }));
}

TEST_F(WidgetsGui, AClickWaitsForADoubleClickOnlyWhenOneIsHandled)
{
    // A long interval, so that slow input never splits a double click.
    GtkSettings* settings = gtk_settings_get_default();
    gint interval = 0;
    g_object_get(settings, "gtk-double-click-time", &interval, nullptr);
    g_object_set(settings, "gtk-double-click-time", 1000, nullptr);

    kx::ClickableView view;
    std::vector<std::string> log;
    view.clickHandler = [&] { log.push_back("click"); };
    place(view, {{20, 20}, {200, 200}});
    const Point centre = centreOf(view.widget());
    moveTo(centre);

    // Only a click callback: at once, and the second press of a double click runs nothing.
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return log.size() == 1; }));
    kxtest::clickButton();
    kxtest::settle();
    EXPECT_EQ(log, std::vector<std::string>{"click"});

    // With a double-click callback a double click runs it once and no click; the third press
    // of the series runs nothing. (Far enough away to start a new series.)
    log.clear();
    view.doubleClickHandler = [&] { log.push_back("double"); };
    moveTo({centre.x + 40, centre.y});
    kxtest::clickButton();
    kxtest::clickButton();
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !log.empty(); }));
    kxtest::spinFor(std::chrono::milliseconds(600)); // past the delayed single click
    EXPECT_EQ(log, std::vector<std::string>{"double"});

    // A single click waits for half the interval before it runs.
    log.clear();
    moveTo({centre.x - 40, centre.y});
    kxtest::clickButton();
    kxtest::settle();
    EXPECT_TRUE(log.empty());
    ASSERT_TRUE(kxtest::spinUntil([&] { return log.size() == 1; }));
    EXPECT_EQ(log, std::vector<std::string>{"click"});

    g_object_set(settings, "gtk-double-click-time", interval, nullptr);
}

TEST(ToolbarAccessoryGui, TheTallTitleBarWearsTheNightGradientOnlyAtNight)
{
    auto& appearance = kx::AppAppearance::shared();
    const bool wasDark = appearance.isDark();
    kx::Window document({400, 300});
    GtkHeaderBar* bar = document.useTallTitleBar();
    kx::ToolbarAccessoryView accessory;
    gtk_header_bar_pack_end(bar, accessory.widget());
    gtk_widget_show(accessory.widget());
    document.makeKeyAndOrderFront();
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(accessory.widget()); }));
    ASSERT_EQ(accessory.titleBar(), bar);
    GtkStyleContext* style = gtk_widget_get_style_context(GTK_WIDGET(bar));
    const auto night = [&] { return gtk_style_context_has_class(style, kx::ToolbarAccessoryView::nightStyleClass); };
    EXPECT_EQ(night(), wasDark);
    appearance.toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance.isDark() != wasDark; }));
    EXPECT_EQ(night(), !wasDark);
    appearance.toggleDarkAppearance();
    ASSERT_TRUE(kxtest::spinUntil([&] { return appearance.isDark() == wasDark; }));
    EXPECT_EQ(night(), wasDark);

    // Outside a header bar it styles nothing.
    kx::Window plain({200, 100});
    kx::ToolbarAccessoryView stray;
    plain.setContentView(stray.widget());
    EXPECT_EQ(stray.titleBar(), nullptr);
}

TEST_F(WidgetsGui, AToolbarImageWithANightVariantShowsItAsItIsAtNightAndAnotherTakesItsPlace)
{
    // "save" is red, "save-dark" green; neither is ever tinted.
    kxtest::TemporaryDirectory folder;
    for (const auto& [name, rgba] : {std::pair{"save", 0xFF0000FFu}, std::pair{"save-dark", 0x00FF00FFu},
                                     std::pair{"open", 0x0000FFFFu}, std::pair{"open-dark", 0x0000FFFFu}}) {
        auto image = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 15, 15));
        gdk_pixbuf_fill(image.get(), rgba);
        ASSERT_TRUE(gdk_pixbuf_save(image.get(), (folder / (std::string(name) + ".png")).c_str(), "png", nullptr, nullptr));
    }
    kx::NamedImages images(folder.path());
    kx::ToolbarButton button("save", images);
    place(button, {{20, 20}, {30, 30}});
    auto& appearance = kx::AppAppearance::shared();
    const bool wasDark = appearance.isDark();
    const auto pixel = [&](double x, double y) {
        const Point root = onScreen(button.widget(), x, y);
        auto shot = kx::GObjectRef<GdkPixbuf>::adopt(
            gdk_pixbuf_get_from_window(gdk_get_default_root_window(), int(root.x), int(root.y), 1, 1));
        const guchar* p = gdk_pixbuf_get_pixels(shot.get());
        return Color{p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, 1};
    };
    for (int round = 0; round < 2; ++round) {
        const Color expected = appearance.isDark() ? Color{0, 1, 0, 1} : Color{1, 0, 0, 1};
        // A 15-point image in 30 points lies at (7, 7): its first pixel there, none at (6, 6).
        EXPECT_TRUE(kxtest::spinUntil([&] { return pixel(7, 7) == expected && pixel(21, 21) == expected; }));
        EXPECT_NE(pixel(6, 6), expected);
        appearance.toggleDarkAppearance();
        ASSERT_TRUE(kxtest::spinUntil([&] { return appearance.isDark() != (round == 0 ? wasDark : !wasDark); }));
    }
    // Another image in the same button.
    GtkWidget* widget = button.widget();
    button.setImageName("open");
    EXPECT_EQ(button.widget(), widget);
    EXPECT_TRUE(kxtest::spinUntil([&] { return pixel(7, 7) == (Color{0, 0, 1, 1}); }));
}

namespace {

// What a screen reader reads for `widget`.
std::string accessibleName(GtkWidget* widget)
{
    const char* name = atk_object_get_name(gtk_widget_get_accessible(widget));
    return name ? name : "";
}

AtkRole accessibleRole(GtkWidget* widget)
{
    return atk_object_get_role(gtk_widget_get_accessible(widget));
}

} // namespace

TEST_F(WidgetsGui, DrawnButtonsAreReachedWithTabPressedWithSpaceOrReturnAndNamedForScreenReaders)
{
    std::vector<std::string> pressed;
    kx::WelcomeWindowButton open("Open\u2026");
    open.setAction([&] { pressed.push_back("open"); });
    place(open, {{20, 20}, {100, 30}});
    kx::AntiAliasedLabel label("No Recent Files", kx::Font::systemFont(12), std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt);
    place(label, {{140, 20}, {120, 30}});
    kx::ToolbarButton toolbar("close");
    gtk_widget_set_tooltip_text(toolbar.widget(), "Show Preview");
    toolbar.setAction([&] { pressed.push_back("toolbar"); });
    place(toolbar, {{280, 21}, {28, 28}}); // centred on the row, as GTK orders Tab by centres
    kx::SimpleButton simple;
    simple.setTitle("Sign In");
    simple.setAction([&] { pressed.push_back("simple"); });
    place(simple, {{20, 80}, {120, 40}});
    kx::AntiAliasedButton text("Learn More", kx::Font::systemFont(12), std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    text.setAction([&] { pressed.push_back("text"); });
    place(text, {{160, 80}, {120, 40}});
    kx::ImageMouseOverButton close("close");
    close.setAccessibleName("Close");
    gtk_widget_set_tooltip_text(close.widget(), "Close the window"); // the name given wins
    close.setAction([&] { pressed.push_back("close"); });
    place(close, {{300, 85}, {30, 30}});

    // Each is a push button named by its title, else by its tooltip; the label is text.
    EXPECT_EQ(accessibleRole(open.widget()), ATK_ROLE_PUSH_BUTTON);
    EXPECT_EQ(accessibleName(open.widget()), "Open\u2026");
    open.setTitle("Open Project", hex("000000"));
    EXPECT_EQ(accessibleName(open.widget()), "Open Project");
    EXPECT_EQ(accessibleName(toolbar.widget()), "Show Preview");
    gtk_widget_set_tooltip_text(toolbar.widget(), "Hide Preview");
    EXPECT_EQ(accessibleName(toolbar.widget()), "Hide Preview");
    EXPECT_EQ(accessibleName(simple.widget()), "Sign In");
    EXPECT_EQ(accessibleName(text.widget()), "Learn More");
    EXPECT_EQ(accessibleName(close.widget()), "Close");
    EXPECT_EQ(accessibleRole(label.widget()), ATK_ROLE_LABEL);
    EXPECT_EQ(accessibleName(label.widget()), "No Recent Files");

    // A click presses without taking the focus.
    moveTo(centreOf(text.widget()));
    kxtest::clickButton();
    ASSERT_TRUE(kxtest::spinUntil([&] { return pressed.size() == 1; }));
    EXPECT_FALSE(gtk_widget_has_focus(text.widget()));

    // Tab goes from button to button in their order on screen, past the label.
    GtkWindow* gtkWindow = window->gtkWindow();
    std::vector<GtkWidget*> order;
    for (int press = 0; press < 6; ++press) {
        GtkWidget* before = gtk_window_get_focus(gtkWindow);
        kxtest::typeKey(GDK_KEY_Tab);
        // A busy machine delivers the key later than one settling of the main loop.
        EXPECT_TRUE(kxtest::spinUntil([&] { return gtk_window_get_focus(gtkWindow) != before; }));
        kxtest::settle();
        order.push_back(gtk_window_get_focus(gtkWindow));
    }
    EXPECT_EQ(order, (std::vector<GtkWidget*>{open.widget(), toolbar.widget(), simple.widget(), text.widget(),
                                               close.widget(), open.widget()}));
    EXPECT_TRUE(gtk_widget_has_visible_focus(open.widget()));

    // Return, Enter and Space press the focused button; with Control they do not, nor on a
    // button that is disabled.
    pressed.clear();
    const auto press = [&](kx::View& button, guint key, bool presses) {
        gtk_widget_grab_focus(button.widget());
        const std::size_t before = pressed.size();
        kxtest::typeKey(key);
        if (presses) {
            EXPECT_TRUE(kxtest::spinUntil([&] { return pressed.size() > before; }));
        }
        kxtest::settle();
    };
    press(open, GDK_KEY_Return, true);
    press(toolbar, GDK_KEY_space, true);
    press(close, GDK_KEY_KP_Enter, true);
    kxtest::pressKey(window->widget(), GDK_KEY_Return, GDK_CONTROL_MASK);
    simple.setEnabled(false);
    press(simple, GDK_KEY_Return, false);
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(pressed, (std::vector<std::string>{"open", "toolbar", "close"}));

    // A screen reader presses each through its action "click", as GTK's own buttons (the
    // disabled one ignores it, as it ignores the keys); the label offers none.
    pressed.clear();
    for (kx::View* button : std::initializer_list<kx::View*>{&open, &toolbar, &text, &close, &simple}) {
        AtkObject* accessible = gtk_widget_get_accessible(button->widget());
        ASSERT_TRUE(ATK_IS_ACTION(accessible));
        EXPECT_EQ(atk_action_get_n_actions(ATK_ACTION(accessible)), 1);
        EXPECT_STREQ(atk_action_get_name(ATK_ACTION(accessible), 0), "click");
        EXPECT_TRUE(atk_action_do_action(ATK_ACTION(accessible), 0));
    }
    EXPECT_FALSE(ATK_IS_ACTION(gtk_widget_get_accessible(label.widget())));
    EXPECT_TRUE(kxtest::spinUntil([&] { return pressed.size() == 4; }));
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(pressed, (std::vector<std::string>{"open", "toolbar", "text", "close"}));
}

TEST_F(WidgetsGui, AToolbarToggleTellsAScreenReaderItsStateAndSetsItWithoutActing)
{
    kx::PreviewWindowToolbarButtonWithTint lock("preview-lock", "preview-lock-on");
    lock.setAccessibleName("Selection Lock");
    int actions = 0;
    lock.setAction([&] { ++actions; });
    gtk_fixed_put(window->flippedContentView(), lock.widget(), 20, 20);
    gtk_widget_show(lock.widget());
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(lock.widget()); }));
    AtkObject* accessible = gtk_widget_get_accessible(lock.widget());
    EXPECT_EQ(atk_object_get_role(accessible), ATK_ROLE_TOGGLE_BUTTON);
    EXPECT_EQ(accessibleName(lock.widget()), "Selection Lock");
    const auto checked = [&] {
        AtkStateSet* states = atk_object_ref_state_set(accessible);
        const bool on = atk_state_set_contains_state(states, ATK_STATE_CHECKED);
        g_object_unref(states);
        return on;
    };
    EXPECT_FALSE(checked());

    // Its owner sets the state from the page: no action goes, the reader hears it checked.
    lock.setState(true);
    EXPECT_TRUE(checked());
    lock.setState(false);
    EXPECT_FALSE(checked());
    EXPECT_EQ(actions, 0);

    // Space on the focused toggle flips it and acts once, on the new state.
    gtk_widget_grab_focus(lock.widget());
    kxtest::typeKey(GDK_KEY_space);
    ASSERT_TRUE(kxtest::spinUntil([&] { return actions == 1; }));
    EXPECT_TRUE(lock.state());
    EXPECT_TRUE(checked());
}
