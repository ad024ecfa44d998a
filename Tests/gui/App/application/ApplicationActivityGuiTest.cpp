// The application is active while any of its windows is: focus moving between its windows
// keeps it active; the last one losing the focus makes it resign once.
#include <gtest/gtest.h>

#include "App/application/ApplicationActivity.h"
#include "Platform/Foundation/GObjectRef.h"
#include "support/Spin.h"

namespace {

kx::GObjectRef<GtkWidget> shownWindow(const char* title)
{
    auto window = kx::GObjectRef<GtkWidget>::retain(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(GTK_WINDOW(window.get()), title);
    gtk_window_set_default_size(GTK_WINDOW(window.get()), 200, 100);
    gtk_widget_show(window.get());
    gtk_window_present(GTK_WINDOW(window.get()));
    return window;
}

} // namespace

TEST(ApplicationActivity, ResignsOnceWhenTheLastWindowLosesTheFocus)
{
    int resigned = 0;
    std::vector<GtkWindow*> activated;
    kx::ApplicationActivity::start([&] { ++resigned; }, [&](GtkWindow* window) { activated.push_back(window); });

    auto first = shownWindow("first");
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_is_active(GTK_WINDOW(first.get())); }));
    EXPECT_TRUE(kx::ApplicationActivity::isActive());
    auto second = shownWindow("second");
    ASSERT_TRUE(kxtest::spinUntil([&] { return gtk_window_is_active(GTK_WINDOW(second.get())); }));
    EXPECT_TRUE(std::find(activated.begin(), activated.end(), GTK_WINDOW(second.get())) != activated.end());
    // From one window of ours to another: still active.
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(resigned, 0);

    gtk_widget_destroy(second.get());
    gtk_widget_hide(first.get());
    ASSERT_TRUE(kxtest::spinUntil([&] { return resigned > 0; }));
    EXPECT_FALSE(kx::ApplicationActivity::isActive());
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(resigned, 1);
    gtk_widget_destroy(first.get());
    kx::ApplicationActivity::start(nullptr, nullptr);
}
