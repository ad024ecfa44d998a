// Which navigations stay in the view, new-window requests, and the page's alerts and prompts.
#include "App/web/WebViewController.h"

#include <algorithm>

#include <webkit2/webkit2.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

std::optional<std::string> hostOf(const std::string& url)
{
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return std::nullopt;
    const char* host = g_uri_get_host(uri);
    std::optional<std::string> result = host && *host ? std::optional<std::string>(host) : std::nullopt;
    g_uri_unref(uri);
    return result;
}

std::optional<std::string> requestURL(WebKitNavigationAction* action)
{
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri && *uri ? std::optional<std::string>(uri) : std::nullopt;
}

GtkWindow* windowOf(GtkWidget* widget)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    return GTK_IS_WINDOW(toplevel) && gtk_widget_is_toplevel(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
}

constexpr int promptFieldWidth = 350;
constexpr int promptFieldHeight = 24;

// WebKitGTK's navigation action names neither the frame a navigation starts in nor the frame it
// loads in, and its web process extensions see requests without their frames too. What a frame
// knows of itself tells it instead: this script runs in every sub-frame, in a script world of
// its own (the page neither sees nor changes it), ahead of the page's scripts, so that its
// listener hears every click first. A click on a link that loads in a sub-frame (the frame
// itself, a frame it names, or its parent when that is not the top frame) is told with the
// link's address. The navigation is the link's default action, after every listener; its
// question reaches us after the message, in order, over the same connection.
constexpr const char* subFrameLinkHandlerName = "kxSubFrameLink";
constexpr const char* subFrameLinkWorld = "kx-sub-frame-links";
constexpr const char* subFrameLinkScript = R"JS((function () {
  if (window === window.top) return;
  var handler = window.webkit && window.webkit.messageHandlers.kxSubFrameLink;
  if (!handler) return;
  // Whether a link's target is a frame other than the top one: the frame itself, its parent
  // below the top, or a frame of that name anywhere in the page (no such frame: a new window).
  function loadsInSubFrame(target) {
    var lower = target.toLowerCase();
    if (lower === "" || lower === "_self" || target === window.name) return true;
    if (lower === "_parent") return window.parent !== window.top;
    if (lower.charAt(0) === "_") return false;
    for (var windows = [window.top], i = 0; i < windows.length && i < 1000; ++i) {
      var named;
      try { named = windows[i][target]; } catch (error) {}
      for (var j = 0; j < windows[i].length; ++j) {
        if (windows[i][j] === named) return true;
        windows.push(windows[i][j]);
      }
    }
    return false;
  }
  window.addEventListener("click", function (event) {
    if (event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey) return;
    var path = event.composedPath();
    for (var i = 0; i < path.length; ++i) {
      var link = path[i];
      if (!(link instanceof HTMLAnchorElement || link instanceof HTMLAreaElement) || !link.hasAttribute("href")) continue;
      var base = document.querySelector("base[target]");
      if (loadsInSubFrame(link.getAttribute("target") || (base && base.getAttribute("target")) || ""))
        handler.postMessage(link.href);
      return;
    }
  }, true);
})();)JS";
// A page that stops its links' navigations leaves their addresses behind; a few are enough.
constexpr std::size_t subFrameLinksKept = 8;

} // namespace

void WebViewController::installSubFrameLinkScript()
{
    WebKitUserContentManager* manager = userContentController();
    if (!webkit_user_content_manager_register_script_message_handler_in_world(manager, subFrameLinkHandlerName, subFrameLinkWorld))
        return; // sub-frames' links then leave as the main frame's do
    signalConnections_.push_back(SignalConnection::connect<void(WebKitUserContentManager*, WebKitJavascriptResult*)>(
        manager, (std::string("script-message-received::") + subFrameLinkHandlerName).c_str(),
        [this](WebKitUserContentManager*, WebKitJavascriptResult* result) {
            subFrameLinkWasClicked(webkit_javascript_result_get_js_value(result));
        }));
    WebKitUserScript* script = webkit_user_script_new_for_world(subFrameLinkScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                                WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, subFrameLinkWorld,
                                                                nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
}

void WebViewController::subFrameLinkWasClicked(JSCValue* url)
{
    if (!url || !jsc_value_is_string(url))
        return;
    char* text = jsc_value_to_string(url);
    if (subFrameLinks_.size() >= subFrameLinksKept)
        subFrameLinks_.erase(subFrameLinks_.begin());
    subFrameLinks_.emplace_back(text ? text : "");
    g_free(text);
}

bool WebViewController::allowsNavigation(const NavigationAction& action, bool openLinksInSystemBrowser)
{
    if (!action.url || !openLinksInSystemBrowser)
        return true;
    if (action.isInSubFrame)
        return true; // an embedded page's link loads in its frame, whatever its host
    std::optional<std::string> host = hostOf(*action.url);
    if (!host)
        return true; // files, data and about pages
    if (host->find("localhost") != std::string::npos || host->find("127.0.0.1") != std::string::npos)
        return true; // the local servers
    // Only a clicked link leaves; forms, history, reloads and scripts stay in the view.
    return !action.isLinkActivated;
}

bool WebViewController::opensNewWindowRequestInSystem(const std::optional<std::string>& url)
{
    if (!url)
        return false;
    // The scheme itself, not a text anywhere in the URL: a query that mentions "https://"
    // must not hand a file or a custom-scheme URL to the desktop.
    char* scheme = g_uri_parse_scheme(url->c_str());
    if (!scheme)
        return false;
    char* lower = g_ascii_strdown(scheme, -1);
    const std::string name = lower;
    g_free(lower);
    g_free(scheme);
    return name == "http" || name == "https" || name == "mailto";
}

bool WebViewController::decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type)
{
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
        return false; // WebKit's own handling of responses
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    NavigationAction navigation{
        requestURL(action),
        action && webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED,
    };
    if (navigation.isLinkActivated && webkit_navigation_action_is_redirect(action)) {
        // The server sent the link elsewhere: WebKit asks again, without saying which link's
        // navigation it is; the last link's, unless another started meanwhile.
        navigation.isInSubFrame = lastLinkWasInSubFrame_;
    } else if (navigation.isLinkActivated) {
        // The frames' script told of the link just before this question, if it was clicked in a
        // sub-frame: what it told earlier belongs to clicks whose navigation the page stopped.
        navigation.isInSubFrame = navigation.url
            && std::find(subFrameLinks_.begin(), subFrameLinks_.end(), *navigation.url) != subFrameLinks_.end();
        subFrameLinks_.clear();
        lastLinkWasInSubFrame_ = navigation.isInSubFrame;
    }
    // A load of ours that is not made is no load the engine dropped.
    const auto ignore = [&] {
        if (startingNavigation_ && type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION
            && pageForLog(navigation.url ? navigation.url->c_str() : nullptr) == startingNavigation_->url)
            startingNavigation_.reset();
        webkit_policy_decision_ignore(decision);
    };
    if (navigation.url && navigationPolicyHandler_) {
        // A copy: the owner may replace the handler or close the page while it runs.
        auto handler = navigationPolicyHandler_;
        if (handler(*navigation.url)) {
            ignore();
            return true;
        }
    }
    if (allowsNavigation(navigation, openLinksInSystemBrowser_)) {
        webkit_policy_decision_use(decision);
    } else {
        Workspace::shared().openURL(*navigation.url); // a failure leaves the link unopened
        ignore();
    }
    return true;
}

void WebViewController::createWebView(WebKitNavigationAction* action)
{
    std::optional<std::string> url = requestURL(action);
    if (opensNewWindowRequestInSystem(url))
        Workspace::shared().openURL(*url);
}

bool WebViewController::runScriptDialog(WebKitScriptDialog* dialog)
{
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    if (type != WEBKIT_SCRIPT_DIALOG_ALERT && type != WEBKIT_SCRIPT_DIALOG_PROMPT)
        return false; // confirmations stay WebKit's own
    GtkWindow* parent = windowOf(webView_->widget());
    if (!parent)
        return true; // a page in no window (the tracking page): dismissed at once, a prompt answers null

    const bool isPrompt = type == WEBKIT_SCRIPT_DIALOG_PROMPT;
    GtkWidget* window = gtk_message_dialog_new(parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               GTK_MESSAGE_OTHER, isPrompt ? GTK_BUTTONS_NONE : GTK_BUTTONS_OK, "%s",
                                               webkit_script_dialog_get_message(dialog));
    GtkWidget* field = nullptr;
    if (isPrompt) {
        gtk_dialog_add_buttons(GTK_DIALOG(window), "Submit", GTK_RESPONSE_ACCEPT, "Cancel", GTK_RESPONSE_CANCEL, nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(window), GTK_RESPONSE_ACCEPT);
        field = gtk_entry_new();
        const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
        gtk_entry_set_text(GTK_ENTRY(field), defaultText ? defaultText : "");
        gtk_entry_set_activates_default(GTK_ENTRY(field), TRUE);
        gtk_widget_set_size_request(field, promptFieldWidth, promptFieldHeight);
        gtk_box_pack_end(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(window))), field, FALSE, FALSE, 0);
        gtk_widget_show(field);
    }
    // Modal to its own window only: the grab covers the window group, so the page's window
    // gets a group of its own when it has none, and the dialog joins it.
    if (!gtk_window_has_group(parent)) {
        const auto group = GObjectRef<GtkWindowGroup>::adopt(gtk_window_group_new());
        gtk_window_group_add_window(group.get(), parent);
    }
    gtk_window_group_add_window(gtk_window_get_group(parent), GTK_WINDOW(window));
    auto& panel = panels_.emplace_back(
        std::make_unique<Panel>(Panel{this, webkit_script_dialog_ref(dialog), window, field, {}}));
    Panel* open = panel.get();
    panel->connections.push_back(SignalConnection::connect<void(GtkDialog*, int)>(
        window, "response", [open](GtkDialog*, int response) { open->owner->panelDidEnd(open, response); }));
    // The dialog goes with its parent window: the page hears it as dismissed, and nothing
    // touches the destroyed dialog later.
    panel->connections.push_back(SignalConnection::connect<void(GtkWidget*)>(
        window, "destroy", [open](GtkWidget*) { open->owner->panelDidEnd(open, GTK_RESPONSE_CANCEL); }));
    gtk_widget_show(window);
    if (field)
        gtk_widget_grab_focus(field);
    return true;
}

void WebViewController::panelDidEnd(Panel* panel, int response)
{
    auto it = std::find_if(panels_.begin(), panels_.end(), [&](const auto& open) { return open.get() == panel; });
    if (it == panels_.end())
        return;
    std::unique_ptr<Panel> ended = std::move(*it);
    panels_.erase(it);
    if (ended->field && response == GTK_RESPONSE_ACCEPT)
        webkit_script_dialog_prompt_set_text(ended->scriptDialog, gtk_entry_get_text(GTK_ENTRY(ended->field)));
    ended->connections.clear();
    gtk_widget_destroy(ended->window);
    webkit_script_dialog_close(ended->scriptDialog);
    webkit_script_dialog_unref(ended->scriptDialog);
}

} // namespace kx
