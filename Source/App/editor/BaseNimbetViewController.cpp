#include "App/editor/BaseNimbetViewController.h"

#include <webkit2/webkit2.h>

#include "App/editor/WindowInputWatch.h"
#include "App/server/AppServer.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/IfAlive.h"

namespace kx {

namespace {

constexpr const char* editorPage = "index.html";

// "scheme://host[:port]" as the page sees it in `location.origin`; none for an address
// without a host.
std::optional<std::string> originOf(const std::string& url)
{
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return std::nullopt;
    std::optional<std::string> origin;
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    if (scheme && host && *host) {
        gchar* lowered = g_ascii_strdown(scheme, -1);
        const std::string name = lowered;
        g_free(lowered);
        const std::string hostName = host;
        origin = name + "://" + (hostName.find(':') != std::string::npos ? "[" + hostName + "]" : hostName);
        const int port = g_uri_get_port(uri);
        const int defaultPort = name == "https" ? 443 : name == "http" ? 80 : -1;
        if (port != -1 && port != defaultPort)
            *origin += ":" + std::to_string(port);
    }
    g_uri_unref(uri);
    return origin;
}

} // namespace

BaseNimbetViewController::BaseNimbetViewController(bool tutorialMode, std::string serverAuthorizationToken)
    : tutorialMode_(tutorialMode)
    , serverAuthorizationToken_(std::move(serverAuthorizationToken))
    , webViewController_(WebViewController::make())
    , windowInput_(std::make_unique<WindowInputWatch>(webViewController_->webView().widget()))
{
    webViewController_->setMaximumMessageSize(largestDocumentSize());
}

namespace {

std::optional<std::size_t>& largestDocumentOverride()
{
    static std::optional<std::size_t> size;
    return size;
}

} // namespace

std::size_t BaseNimbetViewController::largestDocumentSize()
{
    return largestDocumentOverride().value_or(largestDocument);
}

void BaseNimbetViewController::setLargestDocumentForTesting(std::optional<std::size_t> size)
{
    largestDocumentOverride() = size;
}

BaseNimbetViewController::~BaseNimbetViewController()
{
    connections_.clear();
    webViewController_->cleanup();
}

void BaseNimbetViewController::start()
{
    webViewController_->setRawBridgeHandler(ifAlive(weak_from_this(), &BaseNimbetViewController::didReceiveMessage));
    WebKitWebView* view = webViewController_->webView().wkWebView();
    connections_.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        view, "load-changed", [this](WebKitWebView*, WebKitLoadEvent event) {
            if (event == WEBKIT_LOAD_STARTED)
                pageWentAway();
        }));
    connections_.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitWebProcessTerminationReason)>(
        view, "web-process-terminated", [this](WebKitWebView*, WebKitWebProcessTerminationReason) { pageWentAway(); }));
    connections_.push_back(SignalConnection::connect<void(WebKitWebView*, GParamSpec*)>(
        view, "notify::is-web-process-responsive", [](WebKitWebView* view, GParamSpec*) {
            // Only said: a page busy for a few seconds (a large document, a loaded machine) is
            // reported too, and it answers a moment later. What is asked of a page that really
            // hangs fails at the time-out of its question.
            RKLog(webkit_web_view_get_is_web_process_responsive(view) ? "The editor page answers again"
                                                                     : "The editor page stopped answering",
                  RKLogKind::general);
        }));

    const auto url = editorURL();
    if (!url) {
        RKLog("The editor cannot load: the local web server is not running", RKLogKind::general);
        return;
    }
    if (auto origin = originOf(*url)) {
        const std::string source = startupScript(*origin, tutorialMode_, serverAuthorizationToken_);
        WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(webViewController_->userContentController(), script);
        webkit_user_script_unref(script);
    }
    webViewController_->loadURL(*url);
}

std::optional<std::string> BaseNimbetViewController::editorURL()
{
    if (auto development = AppInfo::current()->nimbetDevServerURL())
        return development;
    if (AppServer* server = AppServer::shared())
        return server->url() + editorPage;
    return std::nullopt;
}

std::string BaseNimbetViewController::startupScript(const std::string& origin, bool tutorialMode,
                                                    const std::string& serverAuthorizationToken)
{
    return "(function () {\n"
           "  if (window.location.origin !== " + WebViewController::toJson(origin) + ") return;\n"
           "  Object.defineProperty(window, 'nimbetStartup', { value: Object.freeze({\n"
           "    tutorialMode: " + (tutorialMode ? "true" : "false") + ",\n"
           "    serverAuthorizationToken: " + WebViewController::toJson(serverAuthorizationToken) + "\n"
           "  }) });\n"
           "})();\n";
}

std::string BaseNimbetViewController::ipcScript(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments)
{
    std::string call = "window._ipc && window._ipc.emit(" + WebViewController::toJson(name);
    if (!arguments.empty())
        call += ", " + WebViewController::javaScriptArguments(arguments);
    return call + ")";
}

void BaseNimbetViewController::ipcCallWithArray(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments)
{
    webViewController_->evaluateJavaScript(ipcScript(name, arguments));
}

void BaseNimbetViewController::showStoreViewWithUrl(const std::string& url)
{
    if (!isDocumentReady_) {
        pendingStoreURL_ = url; // the latest wins
        return;
    }
    ipcCallWithArray("ShowStoreView", {nlohmann::json(url)});
}

void BaseNimbetViewController::updateProjectWithURL(const std::string& url)
{
    projectURL_ = url;
    if (isDocumentReady_)
        ipcCallWithArray("UpdateProject", {nlohmann::json(url)});
}

void BaseNimbetViewController::didReceiveMessage(const std::string& method, std::optional<nlohmann::json> arguments)
{
    if (method == "DocumentReady")
        return documentDidBecomeReady();
    handleMessage(method, std::move(arguments));
}

void BaseNimbetViewController::handleMessage(const std::string& method, std::optional<nlohmann::json> arguments)
{
    if (auto processor = ipcProcessor_)
        processor->processMessage(method, arguments);
}

void BaseNimbetViewController::documentDidBecomeReady()
{
    isDocumentReady_ = true;
    // The keys that the window gave the view go on to the page's first control, unless the
    // page has focused one itself: the view alone is nothing a screen reader can announce,
    // and shows no ring. Not once the user has clicked or typed in the window: what he typed
    // into a page still loading would go to that control, a space pressing it.
    if (gtk_widget_is_focus(view()) && !windowInput_->hasSeenPress())
        webViewController_->webView().focusFirstControl();
    if (projectURL_)
        ipcCallWithArray("UpdateProject", {nlohmann::json(*projectURL_)});
    if (auto url = std::exchange(pendingStoreURL_, std::nullopt))
        ipcCallWithArray("ShowStoreView", {nlohmann::json(*url)});
}

void BaseNimbetViewController::pageWentAway()
{
    isDocumentReady_ = false;
    pageDidGo();
}

} // namespace kx
