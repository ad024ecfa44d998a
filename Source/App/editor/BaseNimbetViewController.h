// The host of the editor page in a document window: loads the page from the local web server
// (or the development editor server of internal builds), gives it its start-up values, sends
// it events through `window._ipc.emit`, and hands its named messages on.
//
// The page reports "DocumentReady" once it listens; until then nothing sent through
// `ipcCallWithArray` reaches it, so the project address and a store view asked for early are
// kept and sent then. A page that is replaced or whose process ends is not ready again until
// it says so. A ready page whose view has the window's keys gets them at its first control,
// unless the user has clicked or typed in the window since it opened: a page ready late (a busy
// machine) must not take the keys from where the user put them.
//
// The tutorial flag and the project server's authorization token reach the page in a user
// script that runs before the page's own scripts, as `window.nimbetStartup`, and only in a
// page of the editor's own origin; never in the address or in a log line.
//
// Made with `make` of a subclass; main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "App/editor/IPCProcessor.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class WindowInputWatch;

class BaseNimbetViewController : public std::enable_shared_from_this<BaseNimbetViewController> {
public:
    virtual ~BaseNimbetViewController();
    BaseNimbetViewController(const BaseNimbetViewController&) = delete;
    BaseNimbetViewController& operator=(const BaseNimbetViewController&) = delete;

    // The longest message the page may post: a whole document, with room. 256 MiB is four times
    // the longest text the clipboard takes (64 MiB), over ten times the documents of our
    // benchmarks (20 MiB), and already costs the stand-in editor page 1.7 GB to hold, its undo
    // steps keeping whole copies; what a page holds beyond it is refused (see PartedTexts), and
    // a document that passes it fails its save as too large (NimbetError).
    static constexpr std::size_t largestDocument = std::size_t(256) << 20;
    // The figure of views made from now on: largestDocument, unless a test sets a smaller one
    // (nullopt puts it back).
    static std::size_t largestDocumentSize();
    static void setLargestDocumentForTesting(std::optional<std::size_t> size);

    // The editor's view, for the document window to hold.
    GtkWidget* view() const { return webViewController_->webView().widget(); }
    WebViewController& webViewController() const { return *webViewController_; }
    bool tutorialMode() const { return tutorialMode_; }
    // Since the page's last "DocumentReady".
    bool isDocumentReady() const { return isDocumentReady_; }

    // Sends "ShowStoreView" with the URL now, or when the page is ready.
    void showStoreViewWithUrl(const std::string& url);
    // Sends the project server's address ("UpdateProject"), now and to every page that
    // reports ready later.
    void updateProjectWithURL(const std::string& url);
    // `window._ipc.emit(name, arguments...)` in the page when it has `window._ipc`; else
    // nothing. An absent argument, or one without a JSON form, is null in its place.
    void ipcCallWithArray(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments = {});

    const std::shared_ptr<IPCProcessor>& ipcProcessor() const { return ipcProcessor_; }
    void setIPCProcessor(std::shared_ptr<IPCProcessor> processor) { ipcProcessor_ = std::move(processor); }

    // The address the editor page loads from; none while neither the local web server nor a
    // development server is there.
    static std::optional<std::string> editorURL();
    // The user script that gives a page of `origin` its start-up values.
    static std::string startupScript(const std::string& origin, bool tutorialMode, const std::string& serverAuthorizationToken);
    // The script of one `_ipc.emit` call, guarded by the page having `_ipc`.
    static std::string ipcScript(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments);

protected:
    BaseNimbetViewController(bool tutorialMode, std::string serverAuthorizationToken);
    // Connects the page and loads it; called by `make` once the object is shared.
    void start();

    // A named message of the page that this class does not handle; by default the processor's.
    // `arguments` none: the message had none.
    virtual void handleMessage(const std::string& method, std::optional<nlohmann::json> arguments);
    // The page was replaced (a new load started) or its process ended.
    virtual void pageDidGo() { }

private:
    void didReceiveMessage(const std::string& method, std::optional<nlohmann::json> arguments);
    void documentDidBecomeReady();
    void pageWentAway();

    const bool tutorialMode_;
    const std::string serverAuthorizationToken_;
    std::shared_ptr<WebViewController> webViewController_;
    std::unique_ptr<WindowInputWatch> windowInput_;
    std::shared_ptr<IPCProcessor> ipcProcessor_;
    bool isDocumentReady_ = false;
    std::optional<std::string> projectURL_;
    std::optional<std::string> pendingStoreURL_;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
