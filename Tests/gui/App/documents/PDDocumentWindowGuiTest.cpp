// The document window: its title, title bar and buttons by day and by night, Escape for whoever
// edits in it, closing, and which document window is the main one.
#include "gui/App/documents/DocumentTestEnvironment.h"

#include "App/documents/PDDocumentWindow.h"
#include "App/shell/AppAppearance.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "support/UserInput.h"

namespace {

using namespace kxtest;
using kx::KVDocument;

class PDDocumentWindowGui : public DocumentGuiTest {
protected:
    bool activate(kx::KVDocument& document)
    {
        GtkWindow* window = document.windowForSheet();
        gtk_window_present(window);
        return spinUntil([&] { return gtk_window_is_active(window); });
    }
};

TEST_F(PDDocumentWindowGui, TheWindowShowsTheEditorUnderATitleBarThatFollowsTheAppearance)
{
    auto& appearance = kx::AppAppearance::shared();
    const bool wasDark = appearance.isDark();
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    kx::PDDocumentWindow* window = document->documentWindow();
    ASSERT_TRUE(window);
    gtk_window_move(window->gtkWindow(), 0, 0);
    gtk_window_resize(window->gtkWindow(), 800, 560);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window->widget()); }));
    EXPECT_EQ(std::string(gtk_window_get_title(window->gtkWindow())), "Untitled");
    EXPECT_GE(window->heightOfTitleBar(), kx::Window::tallTitleBarHeight);
    ASSERT_TRUE(window->intercomButton());
    EXPECT_FALSE(window->previewButton());

    typeText(*document, 0, "Edited");
    EXPECT_EQ(std::string(gtk_window_get_title(window->gtkWindow())), "Untitled \u2014 Edited");
    // The web view paints its first frame a moment after the page is ready.
    spinFor(1500ms);
    saveScreenshot(wasDark ? "document-window-night" : "document-window-day");
    appearance.toggleDarkAppearance();
    ASSERT_TRUE(spinUntil([&] { return appearance.isDark() != wasDark; }));
    spinFor(300ms);
    saveScreenshot(wasDark ? "document-window-day" : "document-window-night");
    const bool night = appearance.isDark();
    EXPECT_EQ(gtk_style_context_has_class(gtk_widget_get_style_context(GTK_WIDGET(window->titleBar())),
                                          kx::ToolbarAccessoryView::nightStyleClass),
              night);
    appearance.toggleDarkAppearance();
    ASSERT_TRUE(spinUntil([&] { return appearance.isDark() == wasDark; }));
}

TEST_F(PDDocumentWindowGui, TheWindowOpensWholeInsideTheWorkAreaAtItsSizeWhereItFits)
{
    for (const double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        TextScale text(scale);
        auto document = newDocument();
        ASSERT_TRUE(document && waitForEditor(*document));
        kx::PDDocumentWindow* window = document->documentWindow();
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window->widget()); }));
        EXPECT_TRUE(isWholeOnScreen(window->widget()));
        const kx::Rect frame = frameOnScreen(window->widget());
        const kx::Rect area = workAreaOf(window->widget());
        int width = 0, height = 0;
        gtk_window_get_size(window->gtkWindow(), &width, &height);
        EXPECT_TRUE(width == kx::PDDocumentWindow::defaultWidth || frame.size.width == area.size.width) << width;
        EXPECT_TRUE(height == kx::PDDocumentWindow::defaultHeight || frame.size.height == area.size.height) << height;
        if (std::getenv("KX_SCREENSHOT_DIR")) {
            spinFor(1500ms); // the web view paints its first frame a moment after the page is ready
            saveScreenshot("document-window-text-" + std::to_string(int(scale * 100)));
        }
        document->documentWindow()->close();
        ASSERT_TRUE(spinUntil([&] { return document->isClosed(); }));
    }
}

TEST_F(PDDocumentWindowGui, EscapeThatNoWidgetTakesIsAnnouncedOnce)
{
    auto document = newDocument();
    ASSERT_TRUE(document && waitForEditor(*document));
    ASSERT_TRUE(activate(*document));
    int escapes = 0;
    auto observer = kx::NotificationCenter::defaultCenter().addObserver(
        kx::WindowEscPressedNotification, document->documentWindow(), [&](const kx::Notification& notification) {
            ++escapes;
            EXPECT_EQ(notification.userInfo["event"]["keyval"], GDK_KEY_Escape);
        });
    pressKey(document->documentWindow()->widget(), GDK_KEY_Escape);
    ASSERT_TRUE(spinUntil([&] { return escapes > 0; }));
    pressKey(document->documentWindow()->widget(), GDK_KEY_F7);
    spinFor(200ms);
    EXPECT_EQ(escapes, 1);
}

TEST_F(PDDocumentWindowGui, TheMainWindowIsTheDocumentWindowActiveLast)
{
    auto first = newDocument();
    auto second = newDocument();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->displayName(), "Untitled 2");
    ASSERT_TRUE(activate(*first));
    ASSERT_TRUE(spinUntil([&] { return controller->currentDocument() == first; }));
    ASSERT_TRUE(activate(*second));
    ASSERT_TRUE(spinUntil([&] { return controller->currentDocument() == second; }));
    EXPECT_EQ(controller->orderedDocuments().front(), second);

    // A window that is no document's leaves the main window as it was.
    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(other);
    gtk_window_present(GTK_WINDOW(other));
    ASSERT_TRUE(spinUntil([&] { return gtk_window_is_active(GTK_WINDOW(other)); }));
    EXPECT_EQ(controller->currentDocument(), second);
    gtk_widget_destroy(other);

    // Closing the main document's window leaves no main window until another becomes active.
    second->performClose();
    ASSERT_TRUE(spinUntil([&] { return second->isClosed(); }));
    EXPECT_NE(controller->currentDocument(), second);
    EXPECT_EQ(controller->documents().size(), 1u);
}

TEST_F(PDDocumentWindowGui, ClosingTheLastDocumentBringsBackTheStartWindow)
{
    int shown = 0;
    controller->hooks().showStartWindow = [&] { ++shown; };
    auto document = newDocument();
    ASSERT_TRUE(document);
    document->documentWindow()->close();
    ASSERT_TRUE(spinUntil([&] { return document->isClosed(); }));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(controller->documents().empty());
}

} // namespace
