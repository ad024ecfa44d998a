#include "App/account/LoginWindow.h"

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/Spinner.h"
#include "App/shell/widgets/TitlelessWindow.h"
#include "App/shell/widgets/WindowDragView.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

struct LoginWindow::Private {
    Handlers handlers;
    SignalConnection textScaleChanged;
    TitlelessWindow window{Size{double(LoginWindow::width), double(LoginWindow::height)}};
    WindowDragView dragView;
    Spinner spinner;
    GObjectRef<GtkCssProvider> background = GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new());
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    SignalConnection pageLoads;
};

namespace {

// The page's own background shows through until it has drawn: the window's matches it.
void applyBackground(GtkCssProvider* provider, bool isDark)
{
    gtk_css_provider_load_from_data(provider, isDark ? "* { background-color: #151515; }" : "* { background-color: #ffffff; }",
                                    -1, nullptr);
}

} // namespace

LoginWindow::LoginWindow(Handlers handlers)
    : d_(std::make_unique<Private>())
    , controller_(WebViewController::make())
{
    d_->handlers = std::move(handlers);
    TitlelessWindow& window = d_->window;
    gtk_window_set_title(window.gtkWindow(), "Sign In to Korvel X");
    gtk_window_set_position(window.gtkWindow(), GTK_WIN_POS_CENTER);
    GtkWidget* page = controller_->webView().widget();
    gtk_fixed_put(window.flippedContentView(), page, 0, 0);
    gtk_widget_show(page);
    layout(Window::textScale(), {width * Window::textScale(), height * Window::textScale()});
    gtk_widget_hide(d_->spinner.widget());
    // The desktop's text grows or shrinks: so does the window on screen, as the page zooms.
    d_->textScaleChanged = SignalConnection::connect<void(GObject*, GParamSpec*)>(
        gtk_settings_get_default(), "notify::gtk-xft-dpi", [this](GObject*, GParamSpec*) {
            if (isVisible())
                fitToScreen();
        });

    gtk_style_context_add_provider(gtk_widget_get_style_context(window.widget()),
                                   GTK_STYLE_PROVIDER(d_->background.get()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    applyBackground(d_->background.get(), AppAppearance::shared().isDark());
    // Never removed: the closure does nothing once this window is gone.
    AppAppearance::shared().observeHandlers.push_back(
        [alive = std::weak_ptr<bool>(d_->alive), provider = d_->background] {
            if (!alive.expired())
                applyBackground(provider.get(), AppAppearance::shared().isDark());
        });

    controller_->setOpenLinksInSystemBrowser(true);
    controller_->setNavigationPolicyHandler([this](const std::string& url) {
        if (!g_str_has_prefix(url.c_str(), "korvel-x:"))
            return false;
        // After the navigation is answered: the handler may close this window.
        MainQueue::async([handler = d_->handlers.link, url] {
            if (handler)
                handler(url);
        });
        return true;
    });
    // The keys start in the page's first field, also of each page loaded later (a sign-in
    // refused), unless the user has taken them elsewhere meanwhile.
    d_->pageLoads = SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        controller_->webView().wkWebView(), "load-changed", [this](WebKitWebView* view, WebKitLoadEvent event) {
            if (event == WEBKIT_LOAD_FINISHED && isVisible() && gtk_widget_is_focus(GTK_WIDGET(view)))
                controller_->webView().focusFirstControl();
        });
    controller_->setBridgeHandler([this](const std::string& method, const nlohmann::json& arguments) {
        if (method == "enterpriseDomain" && arguments.is_string() && d_->handlers.enterpriseDomain)
            d_->handlers.enterpriseDomain(arguments.get<std::string>());
    });
}

LoginWindow::~LoginWindow()
{
    d_->pageLoads.disconnect();
    d_->alive.reset();
    controller_->cleanup();
}

GtkWindow* LoginWindow::window() const
{
    return d_->window.gtkWindow();
}

void LoginWindow::loadURL(const std::string& url)
{
    controller_->loadURL(url);
}

void LoginWindow::loadEnterprisePage()
{
    if (auto page = Bundle::main().pathForResource("enterprise", "html", "Login"))
        controller_->loadFile(*page);
}

void LoginWindow::layout(double scale, Size size)
{
    TitlelessWindow& window = d_->window;
    size = {std::round(size.width), std::round(size.height)};
    window.setContentSize(size);
    GtkFixed* content = window.flippedContentView();
    gtk_widget_set_size_request(controller_->webView().widget(), int(size.width), int(size.height));
    // Above the page: its top strip moves the window, the main menu's button at its right end.
    window.placeAbove(d_->dragView.widget(), Rect{{0, 0}, {size.width, std::round(dragStripHeight * scale)}});
    gtk_widget_show(d_->dragView.widget());
    if (ImageMouseOverButton* menu = window.menuButton()) {
        const double button = std::round(30 * scale);
        window.placeAbove(menu->widget(), Rect{{size.width - button, -std::round(scale)}, {button, button}});
        gtk_widget_show(menu->widget());
    }
    d_->spinner.placeIn(content, Rect{{std::round((size.width - spinnerSize) / 2), std::round((size.height - spinnerSize) / 2)},
                                      {double(spinnerSize), double(spinnerSize)}});
}

void LoginWindow::fitToScreen()
{
    // The page is zoomed by the text scale: the window grows with it, as far as the screen holds.
    const double scale = Window::textScale();
    layout(scale, d_->window.contentSizeThatFits({width * scale, height * scale}));
}

void LoginWindow::show()
{
    fitToScreen();
    d_->window.makeKeyAndOrderFront();
    controller_->webView().focusFirstControl();
}

void LoginWindow::close()
{
    d_->window.close();
}

bool LoginWindow::isVisible() const
{
    return d_->window.isVisible();
}

void LoginWindow::shake()
{
    d_->window.shake();
}

bool LoginWindow::isShaking() const
{
    return d_->window.isShaking();
}

void LoginWindow::setBusy(bool busy)
{
    gtk_widget_set_visible(d_->spinner.widget(), busy);
}

bool LoginWindow::isBusy() const
{
    return gtk_widget_get_visible(d_->spinner.widget());
}

} // namespace kx
