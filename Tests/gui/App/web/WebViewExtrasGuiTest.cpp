// The movable web view's focus rule and the web-view extras on real views.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/web/MovableWKWebView.h"
#include "App/web/WKPreferencesExtras.h"
#include "App/web/WKWebViewExtras.h"
#include "gui/App/web/HostedPage.h"
#include "support/Spin.h"

namespace {

using kx::WKWebViewExtras;
using kxtest::pageTimeout;

class WebViewExtrasGui : public kxtest::HostedPageTest {
protected:
    void SetUp() override
    {
        withInspectorEnabled = true;
        HostedPageTest::SetUp();
        gtk_window_resize(GTK_WINDOW(window), 800, 600);
        loadReadyPage();
    }
    WebKitWebView* view() const { return controller->webView().wkWebView(); }
};

TEST(MovableWKWebViewGui, AHiddenViewTakesNoFocus)
{
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* other = gtk_entry_new();
    kx::MovableWKWebView view;
    gtk_box_pack_start(GTK_BOX(box), other, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), view.widget(), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
    EXPECT_FALSE(view.mouseDownCanMoveWindow());

    EXPECT_TRUE(view.becomeFirstResponder());
    gtk_widget_grab_focus(other);
    gtk_widget_hide(box);
    EXPECT_FALSE(view.becomeFirstResponder());
    gtk_widget_grab_focus(view.widget()); // GTK's own requests obey the same rule
    EXPECT_FALSE(gtk_widget_is_focus(view.widget()));
    gtk_widget_show(box);
    gtk_widget_hide(view.widget());
    EXPECT_FALSE(view.becomeFirstResponder());

    gtk_widget_destroy(window);
}

TEST_F(WebViewExtrasGui, RubberBandingIsSwitchedForBothDirections)
{
    const std::string behaviour = "(s => s.overscrollBehaviorX + ' ' + s.overscrollBehaviorY)(getComputedStyle(document.documentElement))";
    EXPECT_EQ(WKWebViewExtras::scrollElasticity(view()), WKWebViewExtras::ScrollElasticity::allowed);
    WKWebViewExtras::setScrollElasticity(view(), WKWebViewExtras::ScrollElasticity::none);
    EXPECT_EQ(WKWebViewExtras::scrollElasticity(view()), WKWebViewExtras::ScrollElasticity::none);
    loadReadyPage();
    EXPECT_EQ(evaluate(behaviour), "none none");

    WKWebViewExtras::setScrollElasticity(view(), WKWebViewExtras::ScrollElasticity::automatic);
    EXPECT_EQ(WKWebViewExtras::scrollElasticity(view()), WKWebViewExtras::ScrollElasticity::allowed);
    loadReadyPage();
    EXPECT_EQ(evaluate(behaviour), "auto auto");
}

TEST_F(WebViewExtrasGui, TheInspectorOpensDetachedOrAttachedAndCloses)
{
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_allocated_height(controller->webView().widget()) >= 600; }));
    EXPECT_TRUE(WKWebViewExtras::canAttachInspector(view()));
    EXPECT_FALSE(kx::WKPreferencesExtras::safePrivate_hiddenPageDOMTimerThrottlingEnabled(controller->webView().settings()));

    int completions = 0;
    WKWebViewExtras::showInspectorAttached(view(), false, [&] { ++completions; });
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(kxtest::spinUntil([&] { return WKWebViewExtras::isInspectorShown(view()); }, pageTimeout));
    EXPECT_FALSE(WKWebViewExtras::isInspectorAttached(view()));

    WKWebViewExtras::showInspectorAttached(view(), true, [&] { ++completions; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return completions == 2; }));
    ASSERT_TRUE(kxtest::spinUntil([&] { return WKWebViewExtras::isInspectorAttached(view()); }, pageTimeout));
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(completions, 2);

    // The host's clean-up closes it.
    controller->cleanup();
    ASSERT_TRUE(kxtest::spinUntil([&] { return !WKWebViewExtras::isInspectorShown(view()); }, pageTimeout));
}

} // namespace
