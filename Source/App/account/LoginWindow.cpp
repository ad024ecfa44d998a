#include "App/account/LoginWindow.h"

#include <array>

#include <webkit2/webkit2.h>

#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

struct LoginWindow::Private {
    Handlers handlers;
    GObjectRef<GtkWidget> window;
    GtkWidget* spinner = nullptr;
    SignalConnection deleteEvent;
    std::vector<std::shared_ptr<MainQueue::Timer>> shakeSteps;
};

LoginWindow::LoginWindow(Handlers handlers)
    : d_(std::make_unique<Private>())
    , controller_(WebViewController::make())
{
    d_->handlers = std::move(handlers);
    d_->window = GObjectRef<GtkWidget>::sink(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    GtkWindow* window = GTK_WINDOW(d_->window.get());
    gtk_window_set_title(window, "Sign In to Korvel X");
    gtk_window_set_default_size(window, width, height);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);

    GtkWidget* overlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(overlay), controller_->webView().widget());
    d_->spinner = gtk_spinner_new();
    gtk_widget_set_size_request(d_->spinner, 32, 32);
    gtk_widget_set_halign(d_->spinner, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(d_->spinner, GTK_ALIGN_CENTER);
    gtk_widget_set_no_show_all(d_->spinner, TRUE);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), d_->spinner);
    gtk_container_add(GTK_CONTAINER(window), overlay);
    gtk_widget_show_all(overlay);

    // Closing hides: the controller keeps one window for the process.
    d_->deleteEvent = SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        d_->window.get(), "delete-event", [](GtkWidget* widget, GdkEvent*) { return gtk_widget_hide_on_delete(widget); });

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
    controller_->setBridgeHandler([this](const std::string& method, const nlohmann::json& arguments) {
        if (method == "enterpriseDomain" && arguments.is_string() && d_->handlers.enterpriseDomain)
            d_->handlers.enterpriseDomain(arguments.get<std::string>());
    });
}

LoginWindow::~LoginWindow()
{
    for (auto& step : d_->shakeSteps)
        step->cancel();
    controller_->cleanup();
    d_->deleteEvent = {};
    if (d_->window)
        gtk_widget_destroy(d_->window.get());
}

GtkWindow* LoginWindow::window() const
{
    return GTK_WINDOW(d_->window.get());
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

void LoginWindow::show()
{
    gtk_window_present(window());
}

void LoginWindow::close()
{
    gtk_widget_hide(d_->window.get());
}

bool LoginWindow::isVisible() const
{
    return gtk_widget_get_visible(d_->window.get()) && gtk_widget_get_mapped(d_->window.get());
}

void LoginWindow::setBusy(bool busy)
{
    gtk_widget_set_visible(d_->spinner, busy);
    if (busy)
        gtk_spinner_start(GTK_SPINNER(d_->spinner));
    else
        gtk_spinner_stop(GTK_SPINNER(d_->spinner));
}

bool LoginWindow::isBusy() const
{
    return gtk_widget_get_visible(d_->spinner);
}

void LoginWindow::shake()
{
    for (auto& step : d_->shakeSteps)
        step->cancel();
    d_->shakeSteps.clear();
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_position(window(), &x, &y);
    gtk_window_get_size(window(), &w, &h);
    const int offset = std::max(1, w / 100);
    // Left, right, left, twice over 0.2 s, then back where it was.
    const std::array<int, 7> offsets{-offset, offset, -offset, -offset, offset, -offset, 0};
    for (size_t i = 0; i < offsets.size(); ++i) {
        d_->shakeSteps.push_back(MainQueue::after(std::chrono::milliseconds(33 * (i + 1)), [this, x, y, dx = offsets[i]] {
            gtk_window_move(window(), x + dx, y);
        }));
    }
}

} // namespace kx
