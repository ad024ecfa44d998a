// The preview window of a document with the real project server, preview page and editor page.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "App/web/WKWebViewExtras.h"
#include "gui/App/preview/PreviewFixture.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "support/ScopedSetting.h"
#include "support/UserInput.h"

namespace {

using kxtest::json;
using kxtest::previewTimeout;
using kxtest::spinUntil;

using PreviewWindowGui = kxtest::PreviewFixture;

TEST_F(PreviewWindowGui, LoadsThePageFadesItInAndBuildsTheDeviceMenu)
{
    // The editor's selection comes before the page's catalogue, as it may on a busy machine.
    select("home");
    ASSERT_TRUE(spinUntil([&] { return server->previewData().value_or("").find("\"home\"") != std::string::npos; },
                          previewTimeout));
    makeController();
    controller->showWithMakeKey(true);
    ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
    // The window's own title, which desktops and screen readers name it by.
    EXPECT_STREQ(gtk_window_get_title(controller->window()->gtkWindow()), "Landing Page \u2014 Preview");
    const std::string uri = webkit_web_view_get_uri(page().webView().wkWebView());
    EXPECT_NE(uri.find("/_app/resources/Nimbet/preview.html?imageBaseURL="), std::string::npos) << uri;
    EXPECT_NE(uri.find("&console=1"), std::string::npos) << uri;

    // The page's catalogue, grouped and sorted: one device a category, each with its skins.
    ASSERT_TRUE(spinUntil([&] { return controller->deviceManager().devices().size() == 3; }, previewTimeout));
    // The selection's device, known once the catalogue came.
    EXPECT_EQ(controller->deviceMenuItem()->title(), "Phone");
    EXPECT_TRUE(controller->orientationButton().isEnabled());
    EXPECT_EQ(controller->deviceManager().categories(), (std::vector<std::string>{"Canvas", "Phones", "Tablets", "Watches"}));
    const auto& menu = *controller->deviceCategoriesMenu();
    std::vector<std::string> titles;
    for (const auto& item : menu.items())
        titles.push_back(item->isSeparatorItem() ? "-" : item->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"-", "Phone", "-", "Tablet", "-", "Watch", "-"}));
    auto phone = menu.itemWithTitle("Phone");
    ASSERT_TRUE(phone && phone->submenu());
    EXPECT_EQ(phone->submenu()->itemAtIndex(0)->title(), "Screen Size Only");
    EXPECT_EQ(phone->submenu()->itemAtIndex(2)->title(), "graphite");
    EXPECT_EQ(phone->submenu()->itemAtIndex(3)->title(), "sand");
}

TEST_F(PreviewWindowGui, TheWindowTakesTheDevicesSizeBesideTheDocumentWindowAndItsPageLaysOutInItsPoints)
{
    std::optional<kxtest::TextScale> text(std::in_place, 1.5); // opened at large text, changed while open
    makeController();
    ASSERT_NO_FATAL_FAILURE(selectWithDevice("plain"));
    EXPECT_EQ(controller->intrinsicContentSize(), (kx::Size{390, 844}));
    editor->evaluate("window.heard = []; const emit = window._ipc.emit;"
                     "window._ipc.emit = function (...args) { window.heard.push(args[0]); return emit.apply(this, args); }");
    controller->showWithMakeKey(true);
    EXPECT_FALSE(controller->isFirstAppearance());
    GtkWindow* window = controller->window()->gtkWindow();
    // Where the work area is too low for the device, as much of it as fits, of its shape (no
    // narrower than the toolbar).
    const kx::Rect area = *controller->window()->workArea();
    const double fit = std::min(1.0, (area.size.height - controller->titleBarHeight()) / 844);
    const double width = std::max(390 * fit, controller->window()->minimumSize().width);
    ASSERT_TRUE(spinUntil([&] {
        int shownWidth = 0, shownHeight = 0;
        gtk_window_get_size(window, &shownWidth, &shownHeight);
        return std::abs(shownWidth - width) < 1 && std::abs(shownHeight - 844 * fit) < 1;
    }, previewTimeout));
    EXPECT_TRUE(kxtest::isWholeOnScreen(GTK_WIDGET(window)));
    const kx::Rect frame = controller->window()->frame();
    EXPECT_NEAR(frame.size.height, 844 * fit + controller->titleBarHeight(), 1);
    const kx::Rect documentFrame = kx::PreviewWindow::frameOfWindow(GTK_WINDOW(editor->window));
    // Beside the document window, where the screen has room for both.
    if (documentFrame.origin.x + documentFrame.size.width + frame.size.width <= area.origin.x + area.size.width
        && documentFrame.origin.y + frame.size.height <= area.origin.y + area.size.height) {
        EXPECT_EQ(frame.origin.y, documentFrame.origin.y);
        EXPECT_EQ(frame.origin.x, documentFrame.origin.x + documentFrame.size.width);
    }
    // The editor hears of the first appearance only; a probe sent last has arrived after it.
    controller->orderOut();
    controller->showWithMakeKey(true);
    editor->controller->ipcCallWithArray("Probe");
    ASSERT_TRUE(spinUntil([&] { return editor->evaluate("window.heard.includes('Probe')") == true; }, previewTimeout));
    EXPECT_EQ(editor->evaluate("window.heard.filter(name => name === 'PreviewLoaded').length"), 1);
    // At every text size (WebKit zooms pages by it) and at the preview's zoom, a CSS pixel is a point.
    for (const double scale : {1.5, 2.0, 1.0}) {
        text.emplace(scale);
        for (const double zoom : {0.5, 1.0}) {
            editor->evaluate("window._ipc.emit('UpdatePreviewSettings', 'plain', {zoom: " + json(zoom).dump() + "})");
            EXPECT_TRUE(spinUntil([&] {
                return controller->previewContentScale() == zoom && evaluateInPage("innerWidth") == gtk_widget_get_allocated_width(pageView());
            }, previewTimeout)) << scale;
        }
    }
}

TEST_F(PreviewWindowGui, ASmallDeviceShrinksTheWindowToItsSize)
{
    makeController();
    ASSERT_NO_FATAL_FAILURE(selectWithDevice("watch"));
    EXPECT_EQ(controller->intrinsicContentSize(), (kx::Size{198, 242}));
    controller->showWithMakeKey(true);
    GtkWindow* window = controller->window()->gtkWindow();
    // No narrower than its toolbar.
    int minimumWidth = 0;
    gtk_widget_get_preferred_width(controller->window()->titleBar(), &minimumWidth, nullptr);
    ASSERT_TRUE(spinUntil([&] {
        int width = 0, height = 0;
        gtk_window_get_size(window, &width, &height);
        return width == std::max(198, minimumWidth) && height == 242;
    }, previewTimeout));
}

// Whether `frame` lies whole in `area`.
bool inside(const kx::Rect& frame, const kx::Rect& area)
{
    return frame.origin.x >= area.origin.x && frame.origin.y >= area.origin.y
        && frame.origin.x + frame.size.width <= area.origin.x + area.size.width
        && frame.origin.y + frame.size.height <= area.origin.y + area.size.height;
}

// Where the X server has the window (from its title bar's top left to its content's bottom
// right; the shadow and border GTK draws around it left out), in GDK's coordinates: points at
// any scale.
kx::Rect onTheServer(const kx::PreviewWindow& window)
{
    int rootX = 0, rootY = 0, left = 0, top = 0, right = 0, bottom = 0;
    gdk_window_get_origin(gtk_widget_get_window(window.widget()), &rootX, &rootY);
    gtk_widget_translate_coordinates(window.titleBar(), window.widget(), 0, 0, &left, &top);
    GtkWidget* content = window.contentView();
    gtk_widget_translate_coordinates(content, window.widget(), gtk_widget_get_allocated_width(content),
                                     gtk_widget_get_allocated_height(content), &right, &bottom);
    return {{double(rootX + left), double(rootY + top)}, {double(right - left), double(bottom - top)}};
}

TEST_F(PreviewWindowGui, BesideADocumentAtTheScreensEdgeTheWindowStaysInTheWorkArea)
{
    const auto area = kx::PreviewWindow::workAreaOfWindow(GTK_WINDOW(editor->window));
    ASSERT_TRUE(area);
    // The document window ends 50 points before the right edge: no room for the preview there.
    const kx::Point documentAt{area->origin.x + area->size.width - 750, area->origin.y + 40};
    gtk_window_resize(GTK_WINDOW(editor->window), 700, 600);
    gtk_window_move(GTK_WINDOW(editor->window), int(documentAt.x), int(documentAt.y));
    ASSERT_TRUE(spinUntil([&] { return kx::PreviewWindow::frameOfWindow(GTK_WINDOW(editor->window)).origin == documentAt; }));
    makeController();
    // The watch is narrower than the preview's toolbar: the window is wider than the device.
    ASSERT_NO_FATAL_FAILURE(selectWithDevice("watch"));
    const double minimumWidth = controller->window()->minimumSize().width;
    ASSERT_GT(minimumWidth, controller->intrinsicContentSize().width);
    controller->showWithMakeKey(true);
    GtkWidget* window = controller->window()->widget();
    ASSERT_TRUE(spinUntil([&] {
        return gtk_widget_get_mapped(window) && onTheServer(*controller->window()).size.width == minimumWidth;
    }, previewTimeout));
    const kx::Rect frame = controller->window()->frame();
    EXPECT_TRUE(inside(frame, *area)) << frame.origin.x << " + " << frame.size.width;
    // Pulled left just enough (its border too), top edges lined up.
    const kx::Rect onScreen = kxtest::frameOnScreen(window);
    EXPECT_EQ(onScreen.origin.x + onScreen.size.width, area->origin.x + area->size.width);
    EXPECT_TRUE(kxtest::isWholeOnScreen(window));
    EXPECT_EQ(frame.origin.y, documentAt.y);
    // The server has it there too.
    const kx::Rect shown = onTheServer(*controller->window());
    EXPECT_TRUE(inside(shown, *area)) << shown.origin.x << " + " << shown.size.width;
}

TEST_F(PreviewWindowGui, ARestoredFrameComesBackWholeOnAMonitor)
{
    makeController();
    ASSERT_NO_FATAL_FAILURE(selectWithDevice("plain"));
    controller->showWithMakeKey(true);
    GtkWidget* window = controller->window()->widget();
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window); }, previewTimeout));
    const auto areas = controller->window()->workAreas();
    ASSERT_EQ(areas.size(), 1u);
    const kx::Rect area = areas[0];

    // Saved on a monitor that is gone.
    controller->restoreState({{"frame", {-30000, 25000, 390, 882}}});
    ASSERT_TRUE(spinUntil([&] { return inside(controller->window()->frame(), area); }, previewTimeout))
        << controller->window()->frame().origin.x << ", " << controller->window()->frame().origin.y;
    EXPECT_EQ(controller->window()->frame().origin, (kx::Point{area.origin.x, area.origin.y + area.size.height - 882}));
    // The window really is there.
    EXPECT_TRUE(spinUntil([&] { return inside(onTheServer(*controller->window()), area); }, previewTimeout));

    // Partly past the right edge: moved in, whole.
    controller->restoreState({{"frame", {area.origin.x + area.size.width - 100, area.origin.y + 40, 390, 882}}});
    const kx::Point movedIn{area.origin.x + area.size.width - 390, area.origin.y + 40};
    EXPECT_TRUE(spinUntil([&] { return controller->window()->frame().origin == movedIn; }, previewTimeout));
    EXPECT_TRUE(spinUntil([&] { return inside(onTheServer(*controller->window()), area); }, previewTimeout))
        << onTheServer(*controller->window()).origin.x << " + " << onTheServer(*controller->window()).size.width;
}

TEST_F(PreviewWindowGui, RuntimeErrorsReachTheEditorPageAndTheConsoleButton)
{
    makeController();
    controller->showWithMakeKey(false);
    ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
    const auto icon = [&] { return controller->consoleButton().iconState(); };
    select("broken");
    ASSERT_TRUE(spinUntil([&] {
        return editor->evaluate("window.nimbet.state.previewErrors.map(e => e.message).join()") == "prototype failed";
    }, previewTimeout));
    EXPECT_EQ(editor->evaluate("window.nimbet.state.previewErrors[0].frameId"), "broken");
    // The page told the project server, whose state turns the console button red.
    ASSERT_TRUE(spinUntil([&] { return icon() == kx::InspectorButtonType::error; }, previewTimeout));
    // A fresh page clears the list and the button; a warning in its console turns it yellow.
    select("home");
    waitForSelection("home");
    controller->reload();
    ASSERT_TRUE(spinUntil([&] {
        return editor->evaluate("window.nimbet.state.previewErrors.length") == 0 && icon() == kx::InspectorButtonType::normal;
    }, previewTimeout));
    evaluateInPage("console.warn('careful'), true");
    ASSERT_TRUE(spinUntil([&] { return icon() == kx::InspectorButtonType::warning; }, previewTimeout));
    // A page of another origin (the editor's) that reports on the preview pages' channel is
    // not heard.
    ASSERT_TRUE(spinUntil([&] { return editor->evaluate("typeof window.io") == "function"; }, previewTimeout));
    editor->evaluate("window.kxOther = window.io(" + json(*server->currentServerURL() + "preview-page").dump() +
                     ", {transports: ['websocket']}), true");
    ASSERT_TRUE(spinUntil([&] { return editor->evaluate("window.kxOther.connected") == true; }, previewTimeout));
    editor->evaluate("window.kxOther.emit('previewInspector', {hasErrors: true, hasWarnings: false}), true");
    kxtest::spinFor(std::chrono::milliseconds(500));
    EXPECT_EQ(icon(), kx::InspectorButtonType::warning);
}

TEST_F(PreviewWindowGui, AReloadWhileOneRunsIsIgnored)
{
    makeController();
    int reloads = 0;
    auto* korvel = controller->korvelViewController();
    auto token = kx::NotificationCenter::defaultCenter().addObserver(
        kx::KorvelViewController::PreviewReloadNotification, document->notificationSender(),
        [&](const kx::Notification&) {
            ++reloads;
            EXPECT_TRUE(korvel->isLoading());
            korvel->reload(); // from inside the running one: dropped
        });
    korvel->reload();
    EXPECT_EQ(reloads, 1);
    EXPECT_FALSE(korvel->isLoading());
    korvel->reload();
    EXPECT_EQ(reloads, 2);
    // A reload the project server asks for is heard from the document's own server only.
    kxtest::settle();
    const int before = reloads;
    int otherServer = 0;
    kx::NotificationCenter::defaultCenter().post(kx::ServerControllerPreviewShouldReload, &otherServer);
    kx::NotificationCenter::defaultCenter().post(kx::ServerControllerPreviewShouldReload, server.get());
    ASSERT_TRUE(spinUntil([&] { return reloads > before; }));
    kxtest::settle();
    EXPECT_EQ(reloads, before + 1);
}

TEST_F(PreviewWindowGui, KeepOnTopFollowsTheSetting)
{
    auto& defaults = kx::UserDefaults::standard();
    defaults.setBool(kx::PreviewWindowController::keepOnTopDefault, true);
    makeController();
    EXPECT_TRUE(controller->window()->keepsAbove());
    controller->showWithMakeKey(true);
    GdkWindow* gdkWindow = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (gdkWindow = gtk_widget_get_window(controller->window()->widget())) != nullptr; }));
    // Mapped with the state the window manager reads.
    ASSERT_TRUE(spinUntil([&] { return gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ABOVE; }, previewTimeout));
    defaults.setBool(kx::PreviewWindowController::keepOnTopDefault, false);
    ASSERT_TRUE(spinUntil([&] { return !controller->window()->keepsAbove(); }));
    defaults.removeObject(kx::PreviewWindowController::keepOnTopDefault);
}

TEST_F(PreviewWindowGui, TheInspectorOpensAttachedAndClosesWithTheWindow)
{
    makeController();
    controller->showWithMakeKey(true);
    ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
    WebKitWebView* view = page().webView().wkWebView();
    controller->showInspector();
    ASSERT_TRUE(spinUntil([&] { return kx::WKWebViewExtras::isInspectorAttached(view); }, previewTimeout));
    EXPECT_GE(controller->window()->frame().size.width, kx::PreviewSizing::webKitMinimumAttachWidth);
    // A second time changes nothing.
    const kx::Rect frame = controller->window()->frame();
    controller->showInspector();
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(controller->window()->frame(), frame);
    controller->window()->close();
    ASSERT_TRUE(spinUntil([&] { return !kx::WKWebViewExtras::isInspectorShown(view); }, previewTimeout));
}

TEST_F(PreviewWindowGui, ControlSSavesTheDocumentFromThePreview)
{
    auto mainMenu = kx::NativeMenu::make();
    auto file = kx::NativeMenuItem::make("File");
    file->setSubmenu(kx::NativeMenu::make("File"));
    file->submenu()->addItem(kx::NativeMenuItem::make("Save", "saveDocument:", "s"));
    mainMenu->addItem(file);
    kxtest::ScopedSetting menu(kx::NativeMenu::setMainMenu, mainMenu, kx::NativeMenu::mainMenu());
    makeController();
    controller->showWithMakeKey(true);
    ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
    kxtest::pressKey(controller->window()->widget(), GDK_KEY_s, GDK_CONTROL_MASK);
    EXPECT_TRUE(spinUntil([&] { return document->saving.saves == 1; }));
}

} // namespace
