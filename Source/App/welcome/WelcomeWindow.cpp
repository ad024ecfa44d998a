#include "App/welcome/WelcomeWindow.h"

#include <algorithm>
#include <cmath>

#include <webkit2/webkit2.h>

#include "App/shell/AppAppearance.h"
#include "App/welcome/RecentDocuments.h"
#include "App/welcome/WelcomeDocumentHook.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/Responder.h"

namespace kx {

// The window in the responder chain: the main menu's Close closes it at once; the menu's other
// window commands (minimise, zoom) are unavailable while it is key.
class WelcomeWindow::WindowResponder : public Responder {
public:
    explicit WindowResponder(WelcomeWindow& window)
        : window_(window)
    {
        addAction("performClose:", [this](Sender) { window_.performClose(); });
        for (const char* action : {"performMiniaturize:", "performZoom:", "miniaturize:", "zoom:", "toggleFullScreen:"})
            addAction(action, [](Sender) { });
        attachToWidget(window.widget());
    }
    ~WindowResponder() override { attachToWidget(nullptr); }

    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override
    {
        return item.action() == "performClose:";
    }

private:
    WelcomeWindow& window_;
};

WelcomeWindow::WelcomeWindow(Size contentSize, RecentDocumentsSource source,
                             std::optional<WelcomePageBridge::Environment> environment)
    : TitlelessWindow(WelcomeWindowLayout::windowSize(contentSize, textScale()))
    , recentDocumentsSource_(source ? std::move(source) : [] { return RecentDocuments::shared().recentDocumentURLs(); })
    , webView_(WebViewController::make(false))
    , bridge_(
          environment ? std::move(*environment) : WelcomePageBridge::Environment::standard(),
          ifAlive(webView_, [](WebViewController& controller, std::string script) { controller.evaluateJavaScript(std::move(script)); }),
          [this, alive = std::weak_ptr<int>(alive_)] {
              if (!alive.expired())
                  close();
          })
    , designSize_(contentSize)
    , layout_(WelcomeWindowLayout::make(contentSize, textScale(), WelcomeWindowLayout::windowSize(contentSize, textScale())))
    , background_(GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new()))
{
    gtk_window_set_title(gtkWindow(), "Welcome to Korvel X");
    responder_ = std::make_unique<WindowResponder>(*this);

    // Each time the window becomes active its list is read again.
    connections_.push_back(SignalConnection::connect<void(GObject*, GParamSpec*)>(
        widget(), "notify::is-active", [this](GObject*, GParamSpec*) {
            if (gtk_window_is_active(gtkWindow()))
                becameKey();
        }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        widget(), "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean { return keyPressed(*event); }));
    // The desktop's text grows or shrinks: so does the window on screen, as the page zooms.
    connections_.push_back(SignalConnection::connect<void(GObject*, GParamSpec*)>(
        gtk_settings_get_default(), "notify::gtk-xft-dpi", [this](GObject*, GParamSpec*) {
            if (isVisible())
                placeOnScreen();
        }));

    webView_->setBridgeHandler([this, alive = std::weak_ptr<int>(alive_)](const std::string& method, nlohmann::json arguments) {
        if (!alive.expired())
            handleBridgeMethod(method, arguments);
    });

    gtk_style_context_add_provider(gtk_widget_get_style_context(widget()), GTK_STYLE_PROVIDER(background_.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    applyWindowLook();
    AppAppearance::shared().observeHandlers.push_back([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired())
            applyWindowLook();
    });

    loadWelcome();
    addRecentsSidebar(false);
    addWelcome();
    addCloseButton();
}

WelcomeWindow::~WelcomeWindow()
{
    // The GtkWindow outlives this object for a moment; GTK does not always let go of a focused
    // list that goes before it.
    gtk_window_set_focus(gtkWindow(), nullptr);
    alive_.reset();
    connections_.clear();
    responder_.reset();
    webView_->cleanup();
    recentsTableView_.reset();
}

void WelcomeWindow::applyWindowLook()
{
    const bool isDark = AppAppearance::shared().isDark();
    gtk_css_provider_load_from_data(background_.get(),
                                    isDark ? "window { background-color: #151515; }" : "window { background-color: #ffffff; }",
                                    -1, nullptr);
    // The page's view shows the same colour until the page has drawn.
    const Color color = AppAppearance::Colors::welcomeBackground();
    const GdkRGBA rgba{color.red, color.green, color.blue, 1};
    webkit_web_view_set_background_color(webView_->webView().wkWebView(), &rgba);
}

bool WelcomeWindow::needsCentring(const Rect& frame, const Size& visibleSize)
{
    // Against the visible area's size, not its edges.
    return frame.origin.x < 0 || frame.origin.x + frame.size.width > visibleSize.width || frame.origin.y < 0
           || frame.origin.y + frame.size.height > visibleSize.height;
}

Rect WelcomeWindow::flippedFrame(const Rect& frame, double screenHeight)
{
    return {{frame.origin.x, screenHeight - frame.origin.y - frame.size.height}, frame.size};
}

namespace {

GdkMonitor* firstScreen()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return nullptr;
    GdkMonitor* primary = gdk_display_get_primary_monitor(display);
    return primary ? primary : gdk_display_get_monitor(display, 0);
}

} // namespace

void WelcomeWindow::center()
{
    GdkMonitor* screen = firstScreen();
    if (!screen)
        return;
    GdkRectangle area;
    gdk_monitor_get_workarea(screen, &area);
    const Size size = layout_.window;
    move({area.x + std::round((area.width - size.width) / 2), area.y + std::round((area.height - size.height) / 2)});
}

void WelcomeWindow::fitToScreen()
{
    const double scale = textScale();
    const Size wanted = WelcomeWindowLayout::windowSize(designSize_, scale);
    const WelcomeWindowLayout layout = WelcomeWindowLayout::make(designSize_, scale, contentSizeThatFits(wanted));
    if (layout == layout_)
        return;
    layout_ = layout;
    layoutViews();
}

void WelcomeWindow::placeOnScreen()
{
    fitToScreen();
    if (!welcomeShownThisLaunch_) {
        welcomeShownThisLaunch_ = true;
        center();
    } else if (GdkMonitor* screen = firstScreen()) {
        GdkRectangle geometry, visible;
        gdk_monitor_get_geometry(screen, &geometry);
        gdk_monitor_get_workarea(screen, &visible);
        int x = 0, y = 0;
        gtk_window_get_position(gtkWindow(), &x, &y);
        const Rect frame{{double(x - geometry.x), double(y - geometry.y)}, layout_.window};
        if (needsCentring(flippedFrame(frame, geometry.height), {double(visible.width), double(visible.height)}))
            center();
    }
}

void WelcomeWindow::makeKeyAndOrderFront()
{
    reloadRecentFiles();
    // A showing starts at the most recent project.
    if (recentsTableView_ && !gtk_widget_get_visible(widget()))
        recentsTableView_->selectRow(0);
    // The activations that follow this showing show what was read here.
    listReadForShowing_ = g_get_monotonic_time();
    placeOnScreen();
    // Shown anew, the keys start at the list's selected row (Return opens its project), not
    // where they were when the window closed; with no recent project (a first launch), at
    // "New". (A focus set on a hidden window with gtk_window_set_focus is only reported: the
    // widget that had the keys keeps them.)
    if (recentsTableView_ && !gtk_widget_get_visible(widget()) && !recentsTableView_->focusSelectedRow())
        gtk_widget_grab_focus(newButton_->widget());
    TitlelessWindow::makeKeyAndOrderFront();
    bridge_.reportExperimentShown();
}

void WelcomeWindow::becameKey()
{
    // The focus may come and go a few times as the window maps.
    if (listReadForShowing_ && g_get_monotonic_time() - *listReadForShowing_ < listSharedFor.count()) {
        showRecentFiles();
        if (recentsTableView_ && recentsTableView_->selectedRow() < 0)
            recentsTableView_->selectRow(0);
    } else {
        reloadRecentFiles();
    }
}

bool WelcomeWindow::keyPressed(const GdkEventKey& event)
{
    const auto modifiers = event.state & gtk_accelerator_get_default_mod_mask();
    // Return in the list opens the selected document, wherever the list's cursor stands.
    GtkWidget* focus = gtk_window_get_focus(gtkWindow());
    if (!modifiers && (event.keyval == GDK_KEY_Return || event.keyval == GDK_KEY_KP_Enter) && focus && recentsTableView_
        && (focus == recentsTableView_->widget() || gtk_widget_is_ancestor(focus, recentsTableView_->widget()))) {
        openRecentFile();
        return true;
    }
    // Close from the keyboard when no menu bar of the window has the key.
    if (!menuBar() && modifiers == GDK_CONTROL_MASK && gdk_keyval_to_lower(event.keyval) == GDK_KEY_w) {
        performClose();
        return true;
    }
    return false;
}

void WelcomeWindow::performClose()
{
    close(); // at once: nothing to ask, nothing to save
}

void WelcomeWindow::windowWillClose()
{
    listReadForShowing_.reset();
    // After the window has gone from the screen.
    MainQueue::async([handler = didClose, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired() && handler)
            handler();
    });
}

void WelcomeWindow::newPrototype()
{
    close();
    if (auto newDocument = WelcomeDocumentHook::shared().newDocument)
        newDocument();
}

void WelcomeWindow::openFile()
{
    close();
    if (auto openPanel = WelcomeDocumentHook::shared().openPanel)
        openPanel();
}

} // namespace kx
