#include "App/preview/KorvelViewController.h"

#include <algorithm>
#include <cstdio>

#include "App/editor/BaseNimbetViewController.h"
#include "App/preview/PreviewDocument.h"
#include "App/preview/PreviewWindowController.h"
#include "App/shell/AppInfo.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Window.h"

namespace kx {

namespace {

// Diagnostics of the preview page go to standard output, where its developers look for them.
void printLine(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A query item's value as URL components write it: everything but the unreserved characters
// and the sub-delimiters that mean nothing inside a value is escaped ("%" too).
std::string queryValue(const std::string& value)
{
    gchar* escaped = g_uri_escape_string(value.c_str(), "!$'()*,;:@/?", FALSE);
    std::string text = escaped ? escaped : "";
    g_free(escaped);
    return text;
}

std::string replacingPlus(std::string text)
{
    for (std::size_t at = text.find('+'); at != std::string::npos; at = text.find('+', at + 3))
        text.replace(at, 1, "%2B");
    return text;
}

std::string appendingPathComponent(std::string path, const std::string& component)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + component;
}

} // namespace

std::shared_ptr<KorvelViewController> KorvelViewController::make()
{
    std::shared_ptr<KorvelViewController> controller(new KorvelViewController());
    controller->setupWebView();
    return controller;
}

KorvelViewController::KorvelViewController()
    : webViewController_(WebViewController::make(true))
{
}

KorvelViewController::~KorvelViewController()
{
    if (fadeTick_)
        gtk_widget_remove_tick_callback(view(), fadeTick_);
    webViewController_->cleanup();
}

void KorvelViewController::setupWebView()
{
    webViewController_->setBridgeHandler(ifAlive(weak_from_this(), &KorvelViewController::handleBridgeMethod));
    webViewController_->setUserAgent(AppInfo::current()->userAgent());
    GtkWidget* widget = view();
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);
    // Invisible until the page says it is ready; nothing drawn behind a transparent page.
    gtk_widget_set_opacity(widget, 0.0);
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(webViewController_->webView().wkWebView(), &clear);
    // The page's own drag and drop, not GTK's drop target.
    gtk_drag_dest_unset(widget);
    layOutInPoints();
    textScaleChanged_ = SignalConnection::connect<void(GObject*, GParamSpec*)>(
        gtk_settings_get_default(), "notify::gtk-xft-dpi", [this](GObject*, GParamSpec*) { layOutInPoints(); });
}

void KorvelViewController::layOutInPoints()
{
    // WebKit zooms a page by the desktop's text scale (its zoom level times the text scale, the
    // level kept when the scale changes). The prototype is shown as its device shows it: one CSS
    // pixel a point of the device frame, whose text has the device's size, not the desktop's.
    webkit_web_view_set_zoom_level(webViewController_->webView().wkWebView(), 1 / Window::textScale());
}

void KorvelViewController::reload()
{
    auto document = document_.lock();
    if (!document)
        return;
    const auto localURL = document->serverLocalUrl();
    const auto serverURL = document->serverURL();
    if (!localURL || localURL->empty() || !serverURL || serverURL->empty())
        return;
    // A reload asked for while this one runs (an observer of the notification below) is dropped.
    if (isLoading_)
        return;
    isLoading_ = true;
    const auto url = previewPageURL(AppInfo::current()->nimbetDevServerURL(), *serverURL, *localURL);
    if (url) {
        // Not ready until the new page says so; a pending completion goes uncalled.
        webViewController_->loadURL(*url, {}, "no-cache");
        NotificationCenter::defaultCenter().post(PreviewReloadNotification, document->notificationSender());
    }
    isLoading_ = false;
}

std::optional<std::string> KorvelViewController::previewPageURL(const std::optional<std::string>& devServerURL,
                                                                 const std::string& serverURL,
                                                                 const std::string& serverLocalUrl)
{
    const std::string& base = devServerURL ? *devServerURL : serverURL;
    GUri* uri = g_uri_parse(base.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (!uri || !g_uri_get_scheme(uri)) {
        if (uri)
            g_uri_unref(uri);
        printLine("failed to compose preview url");
        return std::nullopt;
    }
    std::string path = g_uri_get_path(uri);
    if (devServerURL)
        path = appendingPathComponent(path, devPreviewPageName);
    else
        path = appendingPathComponent(appendingPathComponent(path, "_app/resources/Nimbet"), previewPageName);
    const std::string query = "imageBaseURL=" + queryValue(replacingPlus(serverLocalUrl)) +
        "&projectURL=" + queryValue(serverURL) + "&console=1";
    gchar* joined = g_uri_join(G_URI_FLAGS_ENCODED, g_uri_get_scheme(uri), g_uri_get_userinfo(uri), g_uri_get_host(uri),
                               g_uri_get_port(uri), path.c_str(), query.c_str(), g_uri_get_fragment(uri));
    g_uri_unref(uri);
    std::optional<std::string> result;
    if (joined && g_uri_is_valid(joined, G_URI_FLAGS_ENCODED, nullptr))
        result = joined;
    else
        printLine("failed to convert preview url components into a url");
    g_free(joined);
    return result;
}

bool KorvelViewController::isPackageName(std::string_view name)
{
    if (name.empty() || name.size() > 214)
        return false;
    const auto validPart = [](std::string_view part) {
        if (part.empty() || !(g_ascii_islower(part.front()) || g_ascii_isdigit(part.front())))
            return false;
        return std::all_of(part.begin(), part.end(), [](char c) {
            return g_ascii_islower(c) || g_ascii_isdigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
        });
    };
    std::string_view bare = name;
    if (name.front() == '@') {
        const auto slash = name.find('/');
        if (slash == std::string_view::npos || !validPart(name.substr(1, slash - 1)))
            return false;
        bare = name.substr(slash + 1);
    }
    return validPart(bare) && bare != "node_modules" && bare != "favicon.ico";
}

void KorvelViewController::handleBridgeMethod(const std::string& method, const nlohmann::json& arguments)
{
    if (method == "KorvelPreviewReady") {
        fadeIn();
        return;
    }
    auto document = document_.lock();
    if (method == "DOMContentLoaded") {
        if (document && document->nimbetViewController())
            document->nimbetViewController()->ipcCallWithArray("PreviewErrors", {nlohmann::json::array()});
    } else if (method == "devices") {
        auto controller = windowController_.lock();
        if (!document || !controller)
            return;
        controller->deviceManager().parse(arguments);
        // Also after a catalogue that did not decode: the manager has said why.
        controller->deviceMenuController().updateDeviceMenu();
    } else if (method == "addPackage") {
        if (!document || !arguments.is_string())
            return;
        const auto& name = arguments.get_ref<const std::string&>();
        // The page's text would reach the server's install command.
        if (!isPackageName(name)) {
            printLine("refused package name from the preview page: " + WebViewController::toJson(arguments));
            return;
        }
        document->addPackage(name, true);
    } else if (method == "ServerStoreData") {
        if (document && document->nimbetViewController())
            document->nimbetViewController()->ipcCallWithArray("ServerStoreData");
    } else if (method == "runtime.error") {
        if (document && document->nimbetViewController() && arguments.is_array())
            document->nimbetViewController()->ipcCallWithArray("PreviewErrors", {arguments});
    } else if (method == "fixmeHackyNotePreviewContentScale") {
        auto controller = windowController_.lock();
        if (!document || !controller || !arguments.is_number())
            return;
        if (controller->setPreviewContentScale(arguments.get<double>()))
            controller->updateTitle();
    } else {
        printLine("unhandled bridge method: " + method);
    }
}

void KorvelViewController::fadeIn()
{
    GtkWidget* widget = view();
    if (fadeTick_ || gtk_widget_get_opacity(widget) >= 1.0)
        return;
    // Unmapped, nothing would draw the steps.
    if (!gtk_widget_get_mapped(widget)) {
        gtk_widget_set_opacity(widget, 1.0);
        return;
    }
    fadeStart_ = 0;
    fadeTick_ = gtk_widget_add_tick_callback(
        widget,
        +[](GtkWidget* widget, GdkFrameClock* clock, gpointer data) -> gboolean {
            auto* self = static_cast<KorvelViewController*>(data);
            const gint64 now = gdk_frame_clock_get_frame_time(clock);
            if (!self->fadeStart_)
                self->fadeStart_ = now;
            const double progress = double(now - self->fadeStart_) / (fadeInSeconds * G_USEC_PER_SEC);
            gtk_widget_set_opacity(widget, std::min(1.0, std::max(progress, 0.01)));
            if (progress < 1.0)
                return G_SOURCE_CONTINUE;
            self->fadeTick_ = 0;
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

} // namespace kx
