// The host of one web page on behalf of a native window (editor, start window, sign-in,
// support chat, preview, the hidden tracking page). It builds the web view with the shell's
// user scripts, hears the page's named messages on the "_webkit" handler, decides which
// navigations stay in the view, answers the page's alerts and prompts with dialogs modal to
// the window, loads pages with an optional completion and runs scripts in the page.
//
// When the page's web process ends (a crash, its memory limit) the host logs it and loads the
// page again as it was loaded, unless that has happened too often lately. A load of its own
// that the web engine drops (the view stops loading without the load finishing or failing, or
// its process ends before anything of it showed) is asked for again, twice at most.
//
// Main thread only, except `evaluateJavaScript`, which may be called from any thread. The
// destructor, like `cleanup`, disconnects everything: nothing reaches a destroyed host.
#pragma once

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/web/MovableWKWebView.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/OrderedDelivery.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Services/runtime/channels/PartedTexts.h"

namespace kx {

class WebViewController : public std::enable_shared_from_this<WebViewController> {
public:
    // Method and arguments of one named message of the page; the handler may keep the
    // arguments (a large document need not be copied).
    using BridgeHandler = std::function<void(const std::string& method, nlohmann::json arguments)>;
    // The same with the arguments exactly as the page sent them: none when its message has no
    // "arguments" (a bridge handler gets an empty object then).
    using RawBridgeHandler = std::function<void(const std::string& method, std::optional<nlohmann::json> arguments)>;
    using DocumentReadyHandler = std::function<void(const nlohmann::json& dictionary)>;
    using LoadCompletionHandler = std::function<void()>;
    // The script's value (none for undefined) or the error it raised.
    using JavaScriptCompletionHandler =
        std::function<void(std::optional<nlohmann::json> result, std::optional<Error> error)>;

    // `relatedView`: a view whose web process the new one shares (hidden pages beside a window's).
    static std::shared_ptr<WebViewController> make(bool withInspectorEnabled = false, WebKitWebView* relatedView = nullptr);
    ~WebViewController();
    WebViewController(const WebViewController&) = delete;
    WebViewController& operator=(const WebViewController&) = delete;

    MovableWKWebView& webView() const { return *webView_; }
    // Owners may add user scripts of their own here; they stay ahead of the shell's bridge
    // and appearance scripts.
    WebKitUserContentManager* userContentController() const { return webView_->userContentManager(); }

    bool isDocumentReady() const { return isDocumentReady_; }
    bool openLinksInSystemBrowser() const { return openLinksInSystemBrowser_; }
    void setOpenLinksInSystemBrowser(bool open) { openLinksInSystemBrowser_ = open; }
    // The longest text the page may post, and what the texts it has not finished posting may
    // add up to (PartedTexts::maximumSize unless set).
    void setMaximumMessageSize(std::size_t size) { PartedTexts::setMaximumSize(userContentController(), size); }
    // Called, in order with the page's messages, for each one of the "_webkit" handler that was
    // refused for its length or dropped unfinished to make room: an answer the owner waits for
    // may be the one that will never come.
    void setMessageRefusedHandler(std::function<void()> handler) { messageRefusedHandler_ = std::move(handler); }

    // nullopt restores WebKit's own user agent.
    void setUserAgent(const std::optional<std::string>& userAgent);
    void setBridgeHandler(BridgeHandler handler);
    void setRawBridgeHandler(RawBridgeHandler handler);
    void setDocumentReadyHandler(DocumentReadyHandler handler);
    // Asked first about every navigation; true when the owner took it, which then leaves the
    // view without loading and without reaching the desktop (the login window takes its own
    // scheme's links this way).
    void setNavigationPolicyHandler(std::function<bool(const std::string& url)> handler)
    {
        navigationPolicyHandler_ = std::move(handler);
    }

    // Loads with revalidation of cached data; a main request that the web view started and
    // that has no answer 10 seconds later is stopped. The completion is called once when this
    // very load finishes (also when the engine dropped it and it was asked for again), never
    // when it fails; a later load (with or without completion) drops it uncalled.
    // An address of the page shown with another fragment moves inside the page, which stays
    // (and stays ready); its completion is called once the view shows the fragment.
    // `cacheControl` is the request's Cache-Control header.
    void loadURL(const std::string& url, LoadCompletionHandler completionHandler = {},
                 const std::string& cacheControl = "max-age=0");
    void loadFile(const std::filesystem::path& path, LoadCompletionHandler completionHandler = {});
    // Loads the page shown anew, asked for as it was loaded (the request of our latest load when
    // that is the page, with its headers and time-out; else its address), with the same
    // recovery and completion as any load; nothing while the view shows no page.
    void reload(LoadCompletionHandler completionHandler = {});
    // The page's text, its relative references resolved against `baseURL`; as `loadFile`.
    void loadHTML(const std::string& html, const std::string& baseURL, LoadCompletionHandler completionHandler = {});

    // Runs the script in the page later, on the main loop, in call order.
    void evaluateJavaScript(std::string script, JavaScriptCompletionHandler completionHandler = {});

    // Detaches from the web view: closes the inspector, stops hearing "_webkit" messages, drops
    // the handlers and the navigation policy and panels. The page stays loaded.
    void cleanup();

    // JSON text of a value, "null" when it has none. Never fails.
    static std::string toJson(const nlohmann::json& value);
    // The argument list of a call of a page function: each value's JSON text, joined by ", ".
    // An absent value, or one without a JSON form, is null in its place, so that the arguments
    // after it keep their positions.
    static std::string javaScriptArguments(const std::vector<std::optional<nlohmann::json>>& arguments);
    // The bytes as they stand, when they are UTF-8 text.
    static std::optional<std::string> toJson(const std::vector<std::uint8_t>& data);
    // The value of a JSON text (a bare string, number, Boolean or null included); none when it
    // nests deeper than the strict decoder allows.
    static std::optional<nlohmann::json> fromJson(std::optional<std::string_view> text);
    // The UTF-8 text of the bundle's script resource "<name>.js".
    static std::optional<std::string> bundledJavaScriptFileContents(const std::string& name);

    // One named message of the page, or the log line that says why it is none.
    struct ScriptMessage {
        std::string method;
        std::optional<nlohmann::json> arguments; // none: the message has no "arguments"
    };
    struct ParsedScriptMessage {
        std::optional<ScriptMessage> message;
        std::string failure;
    };
    // `body` is the message's text (nullopt when the page posted anything else); `description`
    // is its textual form for the log.
    static ParsedScriptMessage parseScriptMessage(std::optional<std::string_view> body, std::string_view description);

    // What the navigation policy knows of one navigation. WebKitGTK does not tell which frame
    // a navigation starts in or goes to: a script in every sub-frame tells of each link
    // clicked there that loads in a sub-frame, just before WebKit asks about it.
    struct NavigationAction {
        std::optional<std::string> url;
        bool isLinkActivated = false;
        bool isInSubFrame = false; // from a sub-frame, to a sub-frame
    };
    // True when the navigation stays in the view; false when it goes to the system opener.
    static bool allowsNavigation(const NavigationAction& action, bool openLinksInSystemBrowser);
    // True when a new-window request for the URL goes to the system opener (web and mail links).
    static bool opensNewWindowRequestInSystem(const std::optional<std::string>& url);

    // Where the bridge script's back-end endpoints come from: one JSON object ("api",
    // "publicStore", "privateStore", "tracking"), asked each time a view's scripts are made, so
    // that views made after the environment changed get the new ones. The application gives it
    // at launch, before the first view; until then pages get "{}".
    static void setEndpointsJSONSource(std::function<std::string()> source);
    static std::string bridgeScriptSource(std::string resource, const std::string& endpointsJSON);
    static std::string appearanceScriptSource(std::string resource, bool isDark);
    static std::string appearanceMessage(bool isDark);

private:
    WebViewController(bool withInspectorEnabled, WebKitWebView* relatedView);

    struct Navigation { // identity of one load, from its start to its finish or failure
        std::string url; // what was asked for, for the log
        // Asks the view for this load, again when the engine dropped it; none for the page's own.
        std::function<void(WebKitWebView*)> request;
        std::optional<std::chrono::milliseconds> timeout; // from the engine's start of the load
        int requestedAgain = 0; // past the most: given up
        bool committed = false;
        bool stopped = false; // stopped by us, not superseded by another load
        // A move to a fragment of the page shown: the engine fetches nothing and neither starts
        // nor finishes a load; it is over once the view no longer loads.
        std::optional<std::string> fragmentOf; // the address moved to, as the engine spells it
    };
    struct Completion {
        LoadCompletionHandler handler;
        std::shared_ptr<Navigation> navigation;
    };
    // One open alert or prompt and the page's dialog that waits for it.
    struct Panel {
        WebViewController* owner;
        WebKitScriptDialog* scriptDialog;
        GtkWidget* window;
        GtkWidget* field; // prompts only
        std::vector<SignalConnection> connections; // of `window`, gone with the panel
    };

    // The page's address for a log line: scheme, host and path; a query may carry a token.
    static std::string pageForLog(const char* uri);
    void connectSignals();
    void disconnectSignals();
    void reloadUserScripts();
    void appearanceDidChange();
    // `address` as the engine spells it (the navigation policy sees that spelling).
    static std::shared_ptr<Navigation> makeNavigation(const std::string& address, std::function<void(WebKitWebView*)> request,
                                                      std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    void startLoad(std::shared_ptr<Navigation> navigation, LoadCompletionHandler completionHandler);
    // The page shown, to be asked for anew; none while the view shows none.
    std::shared_ptr<Navigation> shownPageAgain() const;
    // Whether the engine takes a load of `address` for a move inside the page shown.
    bool isFragmentOfShownPage(const std::string& address) const;
    void complete(const std::shared_ptr<Navigation>& navigation);
    // `partsOnly`: the value came to the handler of long texts' parts.
    void didReceiveScriptMessage(JSCValue* body, bool partsOnly);
    void deliverScriptMessage(ParsedScriptMessage parsed);
    void loadChanged(WebKitLoadEvent event);
    void loadFailed(const char* failingURI, const GError* error);
    void webProcessDidTerminate(WebKitWebProcessTerminationReason reason);
    void loadDidTimeOut(const std::shared_ptr<Navigation>& navigation);
    // Our load that the view is no longer loading though it neither committed, finished nor failed.
    std::shared_ptr<Navigation> droppedNavigation() const;
    void loadAgainIfDropped();
    // Ends our move to a fragment once the view no longer loads: completed if the view shows it.
    bool fragmentMoveEnded();
    void cancelLoadTimeout();
    bool decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    void createWebView(WebKitNavigationAction* action);
    void installSubFrameLinkScript();
    void subFrameLinkWasClicked(JSCValue* url);
    bool runScriptDialog(WebKitScriptDialog* dialog);
    void panelDidEnd(Panel* panel, int response);

    std::unique_ptr<MovableWKWebView> webView_;
    WebKitUserScript* bridgeScript_ = nullptr;
    WebKitUserScript* appearanceScript_ = nullptr;
    bool isDocumentReady_ = false;
    bool openLinksInSystemBrowser_ = true;
    std::optional<Completion> completion_;
    RawBridgeHandler bridgeHandler_;
    std::function<void()> messageRefusedHandler_;
    DocumentReadyHandler documentReadyHandler_;
    std::function<bool(const std::string& url)> navigationPolicyHandler_;
    // Links clicked in sub-frames that load in a sub-frame, as the frames' script told of them,
    // until the next clicked link's navigation is decided.
    std::vector<std::string> subFrameLinks_;
    bool lastLinkWasInSubFrame_ = false;

    bool handlesScriptMessages_ = false;
    // The page's long messages, posted in parts by the script ahead of the bridge's.
    PartedTexts partedTexts_;
    // Messages in order of arrival: a large one is parsed on a worker, and those after it wait.
    std::shared_ptr<OrderedDelivery> scriptMessages_ = OrderedDelivery::make();
    std::vector<SignalConnection> signalConnections_;
    std::deque<std::chrono::steady_clock::time_point> recentProcessEnds_;
    std::shared_ptr<Navigation> startingNavigation_; // our load, bound at the next load start
    std::shared_ptr<Navigation> currentNavigation_;
    std::shared_ptr<Navigation> requested_; // the latest load asked for, also once it finished
    bool currentNavigationFailed_ = false;
    std::shared_ptr<Navigation> timeoutNavigation_;
    std::shared_ptr<MainQueue::Timer> loadTimeout_;
    std::shared_ptr<MainQueue::Timer> dropCheck_; // while the view is not loading our unfinished load
    std::list<std::unique_ptr<Panel>> panels_;
};

} // namespace kx
