// The start window's page: loading it from the resources, its fade-in and its requests.
#include "App/welcome/WelcomeWindow.h"

#include <webkit2/webkit2.h>

#include <cmath>

#include "App/shell/AppAppearance.h"
#include "App/shell/AppInfo.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/StartupTrace.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

// The page fades in over a quarter of a second. It fades itself: GTK's opacity on the web
// view keeps WebKit from drawing it.
constexpr const char* fadeInScript =
    "document.documentElement.animate([{opacity: 0}, {opacity: 1}], {duration: 250, easing: 'ease-in-out'}); true";

std::string escapedForHTML(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string WelcomeWindow::fillPlaceholders(std::string html, const std::string& buildName, const std::string& shortVersion)
{
    replaceAll(html, "{{ buildName }}", escapedForHTML(buildName));
    if (buildName == "Dev" || buildName == "Nightly") {
        replaceAll(html, "{{ buildVersion }}", escapedForHTML(shortVersion));
    } else if (buildName.empty()) {
        std::string version = shortVersion;
        std::erase(version, 'v');
        replaceAll(html, "{{ buildVersion }}", escapedForHTML(version));
    }
    return html;
}

void WelcomeWindow::loadWelcome()
{
    const std::optional<std::filesystem::path> page = Bundle::main().pathForResource("index", "html", "WelcomeWindow");
    if (!page)
        return;
    GtkWidget* view = webView_->webView().widget();
    gtk_widget_hide(view);
    gtk_widget_set_no_show_all(view, TRUE);
    connections_.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        webView_->webView().wkWebView(), "load-changed", [](WebKitWebView*, WebKitLoadEvent event) {
            if (event == WEBKIT_LOAD_FINISHED)
                StartupTrace::mark("start page loaded");
        }));
    webView_->setDocumentReadyHandler([this, alive = std::weak_ptr<int>(alive_)](const nlohmann::json&) {
        if (!alive.expired())
            fadeInPage();
    });
    std::optional<std::string> text = FileSystem::readFile(*page);
    if (!text || !g_utf8_validate(text->data(), gssize(text->size()), nullptr))
        return; // the page area stays empty
    const auto info = AppInfo::current();
    const std::string html = fillPlaceholders(std::move(*text), info->buildName(), info->shortVersion());
    gchar* base = g_filename_to_uri(page->c_str(), nullptr, nullptr);
    // Relative references resolve inside the page's folder, which the page may read.
    webView_->loadHTML(html, base ? base : "about:blank");
    g_free(base);
}

void WelcomeWindow::addWelcome()
{
    layoutPage();
}

void WelcomeWindow::layoutPage()
{
    GtkWidget* view = webView_->webView().widget();
    GtkFixed* content = flippedContentView();
    const Rect& page = layout_.page;
    gtk_widget_set_size_request(view, int(std::lround(page.size.width)), int(std::lround(page.size.height)));
    if (gtk_widget_get_parent(view) == GTK_WIDGET(content))
        gtk_fixed_move(content, view, int(std::lround(page.origin.x)), int(std::lround(page.origin.y)));
    else
        gtk_fixed_put(content, view, int(std::lround(page.origin.x)), int(std::lround(page.origin.y)));
    // Above the page, which gets its window only when it fades in.
    placeAbove(dragView_.widget(), layout_.dragStrip);
    gtk_widget_show(dragView_.widget());
}

void WelcomeWindow::fadeInPage()
{
    GtkWidget* view = webView_->webView().widget();
    if (!gtk_widget_get_parent(view))
        return;
    // After the page's message has been answered.
    MainQueue::async([this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.expired())
            return;
        GtkWidget* page = webView_->webView().widget();
        webView_->evaluateJavaScript(fadeInScript);
        gtk_widget_set_no_show_all(page, FALSE);
        gtk_widget_show(page);
        StartupTrace::mark("start page shown");
    });
}

bool WelcomeWindow::isPageShown() const
{
    return gtk_widget_get_visible(webView_->webView().widget());
}

void WelcomeWindow::handleBridgeMethod(const std::string& method, const nlohmann::json& arguments)
{
    bridge_.handleBridgeMethod(method, arguments);
}

} // namespace kx
