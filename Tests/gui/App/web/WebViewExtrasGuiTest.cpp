// The movable web view's focus rule and the web-view extras on real views.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/web/MovableWKWebView.h"
#include "App/web/WKPreferencesExtras.h"
#include "App/web/WKWebViewExtras.h"
#include "support/Spin.h"

namespace {

using kx::WKWebViewExtras;

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
    EXPECT_TRUE(view.isHiddenOrHasHiddenAncestor());
    EXPECT_FALSE(view.becomeFirstResponder());
    gtk_widget_grab_focus(view.widget()); // GTK's own requests obey the same rule
    EXPECT_FALSE(gtk_widget_is_focus(view.widget()));
    gtk_widget_show(box);
    gtk_widget_hide(view.widget());
    EXPECT_FALSE(view.becomeFirstResponder());

    gtk_widget_destroy(window);
}

TEST(WebViewExtrasGui, RubberBandingIsSwitchedForBothDirections)
{
    kx::MovableWKWebView view;
    WebKitWebView* web = view.wkWebView();
    EXPECT_EQ(WKWebViewExtras::scrollElasticity(web), WKWebViewExtras::ScrollElasticity::allowed);
    WKWebViewExtras::setScrollElasticity(web, WKWebViewExtras::ScrollElasticity::none);
    EXPECT_EQ(WKWebViewExtras::scrollElasticity(web), WKWebViewExtras::ScrollElasticity::none);
    WKWebViewExtras::setScrollElasticity(web, WKWebViewExtras::ScrollElasticity::automatic);
    EXPECT_EQ(WKWebViewExtras::scrollElasticity(web), WKWebViewExtras::ScrollElasticity::allowed);

    // Switched off, the page's root keeps still.
    WKWebViewExtras::setScrollElasticity(web, WKWebViewExtras::ScrollElasticity::none);
    webkit_web_view_load_html(web, "<p>x</p>", "http://localhost/");
    std::string behaviour;
    ASSERT_TRUE(kxtest::spinUntil([&] { return !webkit_web_view_is_loading(web); }, std::chrono::seconds(30)));
    webkit_web_view_evaluate_javascript(
        web, "getComputedStyle(document.documentElement).overscrollBehaviorY", -1, nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            char* text = value ? jsc_value_to_string(value) : g_strdup("?");
            *static_cast<std::string*>(data) = text;
            g_free(text);
            g_clear_object(&value);
        },
        &behaviour);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !behaviour.empty(); }));
    EXPECT_EQ(behaviour, "none");
}

TEST(WebViewExtrasGui, PreferenceSwitchesReachWebKit)
{
    WebKitSettings* settings = webkit_settings_new();
    kx::WKPreferencesExtras::safePrivate_setDeveloperExtrasEnabled(settings, true);
    EXPECT_TRUE(kx::WKPreferencesExtras::safePrivate_developerExtrasEnabled(settings));
    kx::WKPreferencesExtras::safePrivate_setHiddenPageDOMTimerThrottlingEnabled(settings, false);
    EXPECT_FALSE(kx::WKPreferencesExtras::safePrivate_hiddenPageDOMTimerThrottlingEnabled(settings));
    kx::WKPreferencesExtras::safePrivate_setHiddenPageDOMTimerThrottlingEnabled(settings, true);
    EXPECT_TRUE(kx::WKPreferencesExtras::safePrivate_hiddenPageDOMTimerThrottlingEnabled(settings));
    kx::WKPreferencesExtras::safePrivate_setPageVisibilityBasedProcessSuppressionEnabled(settings, false);
    EXPECT_FALSE(kx::WKPreferencesExtras::safePrivate_pageVisibilityBasedProcessSuppressionEnabled(settings));
    g_object_unref(settings);
}

TEST(WebViewExtrasGui, TheInspectorOpensDetachedOrAttachedAndCloses)
{
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    kx::MovableWKWebView view(settings);
    g_object_unref(settings);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_container_add(GTK_CONTAINER(window), view.widget());
    gtk_widget_show_all(window);
    webkit_web_view_load_html(view.wkWebView(), "<p>inspect me</p>", "http://localhost/");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !webkit_web_view_is_loading(view.wkWebView()); }, std::chrono::seconds(30)));
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_allocated_height(view.widget()) >= 600; }));
    EXPECT_TRUE(WKWebViewExtras::canAttachInspector(view.wkWebView()));

    int completions = 0;
    WKWebViewExtras::showInspectorAttached(view.wkWebView(), false, [&] { ++completions; });
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(kxtest::spinUntil([&] { return WKWebViewExtras::isInspectorShown(view.wkWebView()); }, std::chrono::seconds(30)));
    EXPECT_FALSE(WKWebViewExtras::isInspectorAttached(view.wkWebView()));

    WKWebViewExtras::showInspectorAttached(view.wkWebView(), true, [&] { ++completions; });
    ASSERT_TRUE(kxtest::spinUntil([&] { return completions == 2; }));
    ASSERT_TRUE(kxtest::spinUntil([&] { return WKWebViewExtras::isInspectorAttached(view.wkWebView()); }, std::chrono::seconds(30)));
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(completions, 2);

    WKWebViewExtras::closeInspector(view.wkWebView());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !WKWebViewExtras::isInspectorShown(view.wkWebView()); }, std::chrono::seconds(10)));
    gtk_widget_destroy(window);
}

} // namespace
