#include "App/web/WebViewController.h"

#include <cmath>
#include <utility>

#include <webkit2/webkit2.h>

#include "App/shell/AppAppearance.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/web/WKPreferencesExtras.h"
#include "App/web/WKWebViewExtras.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/IfAlive.h"
#include "Services/runtime/JSONDecoder.h"

namespace kx {

namespace {

constexpr const char* bridgeHandlerName = "_webkit";
constexpr auto requestTimeout = std::chrono::seconds(10);
// After a page's process ends the page is reloaded, but not after the fourth end in a minute.
constexpr auto processEndWindow = std::chrono::minutes(1);
constexpr std::size_t maximumReloadsPerWindow = 3;
// WebKit now and then drops a view's load without a word (its network process refuses the new
// web process and has it ended); asked for again, it loads.
constexpr int maximumRequestsAgain = 2;
// A load asked for while another is pending leaves the view not loading for a moment before it
// starts: only a view that stays so has dropped it.
constexpr auto dropGrace = std::chrono::seconds(1);

// JSONSerialization refuses NaN and the infinities; so do we, rather than writing null.
bool isFinite(const nlohmann::json& value)
{
    if (value.is_number_float())
        return std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& element : value) {
            if (!isFinite(element))
                return false;
        }
    }
    return true;
}

Error pageGone()
{
    return Error("WebViewController", 1, "The page is no longer there.");
}

// The value of an evaluated script: none for undefined, else its JSON form.
void deliverEvaluation(WebKitWebView* view, GAsyncResult* result, const WebViewController::JavaScriptCompletionHandler& handler)
{
    GError* error = nullptr;
    const auto value = GObjectRef<JSCValue>::adopt(webkit_web_view_evaluate_javascript_finish(view, result, &error));
    if (!value) {
        Error failure = Error::fromGError(error, "The script failed");
        g_clear_error(&error);
        return handler(std::nullopt, failure);
    }
    if (jsc_value_is_undefined(value.get()))
        return handler(std::nullopt, std::nullopt);
    char* json = jsc_value_to_json(value.get(), 0);
    if (JSCContext* context = jsc_value_get_context(value.get()))
        jsc_context_clear_exception(context);
    std::optional<nlohmann::json> parsed = WebViewController::fromJson(json ? std::optional<std::string_view>(json) : std::nullopt);
    g_free(json);
    if (!parsed)
        return handler(std::nullopt, Error("WebViewController", 2, "The script's result has no JSON form."));
    handler(std::move(parsed), std::nullopt);
}

} // namespace

std::string WebViewController::pageForLog(const char* uri)
{
    if (!uri || !*uri)
        return "a page";
    std::string text = uri;
    text = text.substr(0, text.find_first_of("?#"));
    return text;
}

std::shared_ptr<WebViewController> WebViewController::make(bool withInspectorEnabled, WebKitWebView* relatedView)
{
    std::shared_ptr<WebViewController> controller(new WebViewController(withInspectorEnabled, relatedView));
    // Never removed; once the host is gone the closure does nothing.
    AppAppearance::shared().observeHandlers.push_back(ifAlive(controller, &WebViewController::appearanceDidChange));
    return controller;
}

WebViewController::WebViewController(bool withInspectorEnabled, WebKitWebView* relatedView)
    : partedTexts_([](const std::string& line) { RKLog("The page's script message: " + line, RKLogKind::general); },
                   [this] {
                       scriptMessages_->then(ifAlive(weak_from_this(), [](WebViewController& self) {
                           if (auto handler = self.messageRefusedHandler_)
                               handler();
                       }));
                   })
{
    const auto settings = GObjectRef<WebKitSettings>::adopt(webkit_settings_new());
    WKPreferencesExtras::safePrivate_setDeveloperExtrasEnabled(settings.get(), withInspectorEnabled);
    WKPreferencesExtras::safePrivate_setHiddenPageDOMTimerThrottlingEnabled(settings.get(), false);
    WKPreferencesExtras::safePrivate_setPageVisibilityBasedProcessSuppressionEnabled(settings.get(), false);
    webView_ = std::make_unique<MovableWKWebView>(settings.get(), relatedView);

    handlesScriptMessages_ =
        webkit_user_content_manager_register_script_message_handler(userContentController(), bridgeHandlerName);
    if (auto blocker = bundledJavaScriptFileContents("drag-drop-blocker")) {
        WebKitUserScript* script = webkit_user_script_new(blocker->c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
        webkit_user_content_manager_add_script(userContentController(), script);
        webkit_user_script_unref(script);
    }
    installSubFrameLinkScript();
    connectSignals();
    reloadUserScripts();
    setUserAgent(AppInfo::current()->userAgent());
}

WebViewController::~WebViewController()
{
    disconnectSignals();
    for (const auto& timer : {loadTimeout_, dropCheck_}) {
        if (timer)
            timer->cancel();
    }
    // Open dialogs go with the host; the page hears them as dismissed.
    while (!panels_.empty())
        panelDidEnd(panels_.front().get(), GTK_RESPONSE_CANCEL);
    for (WebKitUserScript* script : {bridgeScript_, appearanceScript_}) {
        if (script)
            webkit_user_script_unref(script);
    }
}

void WebViewController::connectSignals()
{
    WebKitWebView* view = webView_->wkWebView();
    if (handlesScriptMessages_) {
        signalConnections_.push_back(SignalConnection::connect<void(WebKitUserContentManager*, WebKitJavascriptResult*)>(
            userContentController(), "script-message-received::_webkit",
            [this](WebKitUserContentManager*, WebKitJavascriptResult* result) {
                didReceiveScriptMessage(webkit_javascript_result_get_js_value(result), false);
            }));
        // Long texts come in parts, a few at a time, to a handler of their own.
        signalConnections_.push_back(partedTexts_.connectPartsHandler(userContentController(), bridgeHandlerName, [this](JSCValue* value) {
            didReceiveScriptMessage(value, true);
        }));
    }
    signalConnections_.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        view, "load-changed", [this](WebKitWebView*, WebKitLoadEvent event) { loadChanged(event); }));
    signalConnections_.push_back(SignalConnection::connect<gboolean(WebKitWebView*, WebKitLoadEvent, char*, GError*)>(
        view, "load-failed", [this](WebKitWebView*, WebKitLoadEvent, char* failingURI, GError* error) -> gboolean {
            loadFailed(failingURI, error);
            return FALSE; // WebKit still shows its error page
        }));
    signalConnections_.push_back(SignalConnection::connect<gboolean(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType)>(
        view, "decide-policy", [this](WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) -> gboolean {
            return decidePolicy(decision, type);
        }));
    signalConnections_.push_back(SignalConnection::connect<GtkWidget*(WebKitWebView*, WebKitNavigationAction*)>(
        view, "create", [this](WebKitWebView*, WebKitNavigationAction* action) -> GtkWidget* {
            createWebView(action);
            return nullptr; // the page never gets a second web view
        }));
    signalConnections_.push_back(SignalConnection::connect<gboolean(WebKitWebView*, WebKitScriptDialog*)>(
        view, "script-dialog", [this](WebKitWebView*, WebKitScriptDialog* dialog) -> gboolean { return runScriptDialog(dialog); }));
    signalConnections_.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitWebProcessTerminationReason)>(
        view, "web-process-terminated",
        [this](WebKitWebView*, WebKitWebProcessTerminationReason reason) { webProcessDidTerminate(reason); }));
    // The view stops loading before it tells of a finish or failure.
    signalConnections_.push_back(SignalConnection::connect<void(WebKitWebView*, GParamSpec*)>(
        view, "notify::is-loading", [this](WebKitWebView*, GParamSpec*) {
            if (dropCheck_)
                dropCheck_->cancel();
            dropCheck_.reset();
            if (!fragmentMoveEnded() && droppedNavigation())
                dropCheck_ = MainQueue::after(dropGrace, ifAlive(weak_from_this(), &WebViewController::loadAgainIfDropped));
        }));
}

void WebViewController::disconnectSignals()
{
    signalConnections_.clear();
    if (handlesScriptMessages_) {
        webkit_user_content_manager_unregister_script_message_handler(userContentController(), bridgeHandlerName);
        PartedTexts::disconnectPartsHandler(userContentController(), bridgeHandlerName);
        handlesScriptMessages_ = false;
    }
}

void WebViewController::setUserAgent(const std::optional<std::string>& userAgent)
{
    webkit_settings_set_user_agent(webView_->settings(), userAgent ? userAgent->c_str() : nullptr);
}

void WebViewController::setBridgeHandler(BridgeHandler handler)
{
    if (!handler)
        return setRawBridgeHandler(nullptr);
    setRawBridgeHandler([handler = std::move(handler)](const std::string& method, std::optional<nlohmann::json> arguments) {
        handler(method, arguments ? std::move(*arguments) : nlohmann::json::object());
    });
}

void WebViewController::setRawBridgeHandler(RawBridgeHandler handler)
{
    bridgeHandler_ = std::move(handler);
}

void WebViewController::setDocumentReadyHandler(DocumentReadyHandler handler)
{
    documentReadyHandler_ = std::move(handler);
}

void WebViewController::loadURL(const std::string& url, LoadCompletionHandler completionHandler,
                                const std::string& cacheControl)
{
    const auto request = GObjectRef<WebKitURIRequest>::adopt(webkit_uri_request_new(url.c_str()));
    // Cached data is used only after the server confirmed it.
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request.get()))
        soup_message_headers_replace(headers, "Cache-Control", cacheControl.c_str());
    const std::string address = webkit_uri_request_get_uri(request.get());
    auto navigation = makeNavigation(address, [request](WebKitWebView* view) { webkit_web_view_load_request(view, request.get()); },
                                     requestTimeout);
    if (isFragmentOfShownPage(address))
        navigation->fragmentOf = address; // the document stays, and ready
    else
        isDocumentReady_ = false;
    startLoad(std::move(navigation), std::move(completionHandler));
}

void WebViewController::loadFile(const std::filesystem::path& path, LoadCompletionHandler completionHandler)
{
    gchar* uri = g_filename_to_uri(std::filesystem::absolute(path).c_str(), nullptr, nullptr);
    const auto request = GObjectRef<WebKitURIRequest>::adopt(webkit_uri_request_new(uri ? uri : "about:blank"));
    g_free(uri);
    startLoad(makeNavigation(webkit_uri_request_get_uri(request.get()),
                             [request](WebKitWebView* view) { webkit_web_view_load_request(view, request.get()); }),
              std::move(completionHandler));
}

void WebViewController::loadHTML(const std::string& html, const std::string& baseURL, LoadCompletionHandler completionHandler)
{
    const auto base = GObjectRef<WebKitURIRequest>::adopt(webkit_uri_request_new(baseURL.c_str()));
    startLoad(makeNavigation(webkit_uri_request_get_uri(base.get()),
                             [html, baseURL](WebKitWebView* view) { webkit_web_view_load_html(view, html.c_str(), baseURL.c_str()); }),
              std::move(completionHandler));
}

void WebViewController::reload(LoadCompletionHandler completionHandler)
{
    std::shared_ptr<Navigation> again = shownPageAgain();
    if (!again)
        return;
    isDocumentReady_ = false;
    startLoad(std::move(again), std::move(completionHandler));
}

std::shared_ptr<WebViewController::Navigation> WebViewController::makeNavigation(
    const std::string& address, std::function<void(WebKitWebView*)> request, std::optional<std::chrono::milliseconds> timeout)
{
    auto navigation = std::make_shared<Navigation>();
    navigation->url = pageForLog(address.c_str());
    navigation->request = std::move(request);
    navigation->timeout = timeout;
    return navigation;
}

std::shared_ptr<WebViewController::Navigation> WebViewController::shownPageAgain() const
{
    // A reload would not do: in a new web process, or after a load the engine dropped, it finds
    // nothing to reload.
    const char* uri = webkit_web_view_get_uri(webView_->wkWebView());
    if (!uri || !*uri)
        return nullptr;
    if (requested_ && requested_->url == pageForLog(uri))
        return makeNavigation(uri, requested_->request, requested_->timeout);
    return makeNavigation(uri, [uri = std::string(uri)](WebKitWebView* view) { webkit_web_view_load_uri(view, uri.c_str()); });
}

bool WebViewController::isFragmentOfShownPage(const std::string& address) const
{
    // The engine's rule: the page's own address with a fragment, other than the very address
    // shown (which loads anew), while the page is not being replaced.
    WebKitWebView* view = webView_->wkWebView();
    const char* shown = webkit_web_view_get_uri(view);
    const auto withoutFragment = [](std::string_view text) { return text.substr(0, text.find('#')); };
    return shown && !webkit_web_view_is_loading(view) && address.find('#') != std::string::npos && address != shown
        && withoutFragment(address) == withoutFragment(shown);
}

void WebViewController::startLoad(std::shared_ptr<Navigation> navigation, LoadCompletionHandler completionHandler)
{
    cancelLoadTimeout();
    startingNavigation_ = requested_ = navigation;
    navigation->request(webView_->wkWebView());
    if (completionHandler)
        completion_ = Completion{std::move(completionHandler), navigation};
    else
        completion_.reset();
}

void WebViewController::loadChanged(WebKitLoadEvent event)
{
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        // The first start after our load call is our load; any other is the page's own.
        currentNavigation_ = startingNavigation_ ? std::move(startingNavigation_) : std::make_shared<Navigation>();
        startingNavigation_.reset();
        currentNavigationFailed_ = false;
        // A request's time-out: a load the engine has not started yet is no fault of its server.
        cancelLoadTimeout();
        if (currentNavigation_->timeout) {
            timeoutNavigation_ = currentNavigation_;
            loadTimeout_ = MainQueue::after(*currentNavigation_->timeout,
                                            ifAlive(weak_from_this(), [navigation = currentNavigation_](WebViewController& self) {
                                                self.loadDidTimeOut(navigation);
                                            }));
        }
        break;
    case WEBKIT_LOAD_REDIRECTED:
        break;
    case WEBKIT_LOAD_COMMITTED:
        partedTexts_.clear(); // a message the earlier page was posting will not be finished
        if (currentNavigation_)
            currentNavigation_->committed = true;
        // The server answered: the request can no longer time out.
        if (currentNavigation_ && currentNavigation_ == timeoutNavigation_)
            cancelLoadTimeout();
        break;
    case WEBKIT_LOAD_FINISHED: {
        std::shared_ptr<Navigation> navigation = std::move(currentNavigation_);
        currentNavigation_.reset();
        if (navigation && navigation == timeoutNavigation_)
            cancelLoadTimeout();
        if (!currentNavigationFailed_ && navigation)
            complete(navigation);
        break;
    }
    }
}

void WebViewController::complete(const std::shared_ptr<Navigation>& navigation)
{
    if (!completion_ || completion_->navigation != navigation)
        return;
    auto self = shared_from_this(); // the handler may let the host go
    LoadCompletionHandler handler = completion_->handler;
    handler();
    // A load that the handler started keeps its own completion.
    if (completion_ && completion_->navigation == navigation)
        completion_.reset();
}

bool WebViewController::fragmentMoveEnded()
{
    WebKitWebView* view = webView_->wkWebView();
    if (!startingNavigation_ || !startingNavigation_->fragmentOf || webkit_web_view_is_loading(view))
        return false;
    std::shared_ptr<Navigation> navigation = std::exchange(startingNavigation_, nullptr);
    const char* shown = webkit_web_view_get_uri(view);
    if (shown && *navigation->fragmentOf == shown)
        complete(navigation);
    return true;
}

void WebViewController::loadFailed(const char* failingURI, const GError* error)
{
    currentNavigationFailed_ = true;
    // A page that never shows (the editor's, a login page) would otherwise leave no trace of
    // why; loads replaced by others and navigations handed elsewhere are no failure.
    if (error && !g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)
        && !g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
        RKLog("The load of " + pageForLog(failingURI) + " failed: " + error->message,
              RKLogKind::general);
    // Two loads asked for in one turn: WebKit may start the first after both calls, so the first
    // start took the token of the second, and the second's start is still to come. The first
    // is then cancelled by the second; the token goes to the start that follows.
    if (!startingNavigation_ && currentNavigation_ && !currentNavigation_->stopped && error
        && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) && completion_
        && completion_->navigation == currentNavigation_) {
        startingNavigation_ = currentNavigation_;
        if (timeoutNavigation_ == startingNavigation_)
            cancelLoadTimeout(); // counted again from its own start
    }
}

void WebViewController::loadDidTimeOut(const std::shared_ptr<Navigation>& navigation)
{
    if (navigation != timeoutNavigation_)
        return;
    cancelLoadTimeout();
    if (navigation != currentNavigation_)
        return;
    if (!webkit_web_view_is_loading(webView_->wkWebView()))
        return loadAgainIfDropped(); // the engine let it go without a word
    navigation->stopped = true;
    RKLog("The load of " + navigation->url + " was stopped: its server did not answer in time", RKLogKind::general);
    webkit_web_view_stop_loading(webView_->wkWebView());
}

std::shared_ptr<WebViewController::Navigation> WebViewController::droppedNavigation() const
{
    if (webkit_web_view_is_loading(webView_->wkWebView()))
        return nullptr;
    std::shared_ptr<Navigation> navigation = startingNavigation_;
    if (!navigation && currentNavigation_ && !currentNavigation_->committed && !currentNavigationFailed_)
        navigation = currentNavigation_;
    return navigation && navigation->request && !navigation->stopped && !navigation->fragmentOf
            && navigation->requestedAgain <= maximumRequestsAgain
        ? navigation
        : nullptr;
}

void WebViewController::loadAgainIfDropped()
{
    std::shared_ptr<Navigation> navigation = droppedNavigation();
    if (!navigation)
        return;
    if (navigation == timeoutNavigation_)
        cancelLoadTimeout();
    if (navigation == currentNavigation_)
        currentNavigation_.reset();
    // Should the engine start it after all, its start is still ours.
    startingNavigation_ = navigation;
    if (navigation->requestedAgain++ == maximumRequestsAgain) {
        RKLog("The load of " + navigation->url + " failed: the web engine dropped it "
                  + std::to_string(maximumRequestsAgain + 1) + " times",
              RKLogKind::general);
        return;
    }
    RKLog("The web engine dropped the load of " + navigation->url + "; loading it again", RKLogKind::general);
    navigation->request(webView_->wkWebView());
}

void WebViewController::cancelLoadTimeout()
{
    if (loadTimeout_)
        loadTimeout_->cancel();
    loadTimeout_.reset();
    timeoutNavigation_.reset();
}

void WebViewController::webProcessDidTerminate(WebKitWebProcessTerminationReason reason)
{
    partedTexts_.clear();
    // A page whose process goes on every load must not keep the machine busy reloading it.
    const auto now = std::chrono::steady_clock::now();
    while (!recentProcessEnds_.empty() && now - recentProcessEnds_.front() > processEndWindow)
        recentProcessEnds_.pop_front();
    recentProcessEnds_.push_back(now);
    isDocumentReady_ = false;
    const char* how = reason == WEBKIT_WEB_PROCESS_CRASHED                 ? "crashed"
        : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded its memory limit"
                                                             : "was terminated";
    const std::string page = pageForLog(webkit_web_view_get_uri(webView_->wkWebView()));
    // What the engine will no longer start: a load given up, a move inside the page shown.
    if (startingNavigation_ && (startingNavigation_->requestedAgain > maximumRequestsAgain || startingNavigation_->fragmentOf))
        startingNavigation_.reset();
    // Our load that had not finished went with the process, and waits for its start again.
    if (!startingNavigation_ && currentNavigation_ && currentNavigation_->request && !currentNavigationFailed_
        && !currentNavigation_->stopped)
        startingNavigation_ = std::exchange(currentNavigation_, nullptr);
    if (recentProcessEnds_.size() > maximumReloadsPerWindow) {
        RKLog("The web process of " + page + " " + how + " again; the page is not reloaded", RKLogKind::general);
        startingNavigation_.reset(); // not asked for again when the view is seen not loading either
        return;
    }
    if (startingNavigation_ && !startingNavigation_->committed) {
        // Nothing of it showed: the engine dropped it with its process.
        RKLog("The web process of " + page + " " + how, RKLogKind::general);
        MainQueue::async(ifAlive(weak_from_this(), &WebViewController::loadAgainIfDropped));
        return;
    }
    // The page is asked for anew as it was loaded (in a new web process, which the engine may
    // drop as it may a first load): our load that showed, with its completion when it had not
    // finished, or else the page shown.
    std::shared_ptr<Navigation> again = startingNavigation_ ? startingNavigation_ : shownPageAgain();
    if (!again)
        return;
    RKLog("The web process of " + page + " " + how + "; reloading the page", RKLogKind::general);
    again->committed = false;
    startingNavigation_ = again;
    // Out of WebKit's own notification before starting anew, unless another load was asked for
    // or the host was detached meanwhile.
    MainQueue::async(ifAlive(weak_from_this(), [again](WebViewController& self) {
        if (self.startingNavigation_ == again)
            again->request(self.webView_->wkWebView());
    }));
}

void WebViewController::evaluateJavaScript(std::string script, JavaScriptCompletionHandler completionHandler)
{
    // Always later, also on the main thread: callers rely on the script not having run yet.
    MainQueue::async([weak = weak_from_this(), script = std::move(script),
                      completionHandler = std::move(completionHandler)]() mutable {
        auto self = weak.lock();
        if (!self) {
            if (completionHandler)
                completionHandler(std::nullopt, pageGone());
            return;
        }
        WebKitWebView* view = self->webView_->wkWebView();
        if (!completionHandler) {
            webkit_web_view_evaluate_javascript(view, script.data(), static_cast<gssize>(script.size()), nullptr,
                                                nullptr, nullptr, nullptr, nullptr);
            return;
        }
        webkit_web_view_evaluate_javascript(
            view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<JavaScriptCompletionHandler> handler(static_cast<JavaScriptCompletionHandler*>(data));
                deliverEvaluation(WEBKIT_WEB_VIEW(source), result, *handler);
            },
            new JavaScriptCompletionHandler(std::move(completionHandler)));
    });
}

void WebViewController::cleanup()
{
    WKWebViewExtras::closeInspector(webView_->wkWebView());
    disconnectSignals();
    bridgeHandler_ = nullptr;
    messageRefusedHandler_ = nullptr;
    documentReadyHandler_ = nullptr;
    navigationPolicyHandler_ = nullptr;
    scriptMessages_->clear();
    completion_.reset();
    // Nothing hears the view's loads any more: none is timed or asked for again.
    startingNavigation_.reset();
    currentNavigation_.reset();
    cancelLoadTimeout();
    if (dropCheck_)
        dropCheck_->cancel();
}

std::string WebViewController::toJson(const nlohmann::json& value)
{
    if (!isFinite(value))
        return "null";
    try {
        return value.dump();
    } catch (const nlohmann::json::exception&) {
        return "null"; // a string that is not UTF-8
    }
}

std::string WebViewController::javaScriptArguments(const std::vector<std::optional<nlohmann::json>>& arguments)
{
    std::string list;
    for (const auto& argument : arguments) {
        if (!list.empty())
            list += ", ";
        list += argument ? toJson(*argument) : "null";
    }
    return list;
}

std::optional<std::string> WebViewController::toJson(const std::vector<std::uint8_t>& data)
{
    std::string text(data.begin(), data.end());
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return std::nullopt;
    return text;
}

std::optional<nlohmann::json> WebViewController::fromJson(std::optional<std::string_view> text)
{
    if (!text)
        return std::nullopt;
    // The service layer's reader: writing a value back recurses once per level, so text nested
    // past any design is refused rather than overflowing the stack later.
    try {
        return JSONDecoder::parse(*text);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

std::optional<std::string> WebViewController::bundledJavaScriptFileContents(const std::string& name)
{
    auto path = Bundle::main().pathForResource(name, "js");
    if (!path)
        return std::nullopt;
    auto text = FileSystem::readFile(*path);
    if (!text || !g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr))
        return std::nullopt;
    return text;
}

} // namespace kx
