// The preview page of one document: a web view (with the Web Inspector) that loads the
// prototype the document's project server serves, stays invisible until the page says it is
// ready and then fades in, and carries the page's messages to the document, the editor page,
// the device catalogue and the preview window. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "App/web/WebViewController.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class PreviewDocument;
class PreviewWindowController;

class KorvelViewController : public std::enable_shared_from_this<KorvelViewController> {
public:
    static constexpr const char* PreviewReloadNotification = "PreviewReloadNotification";
    // The page under the project server's "_app/resources/Nimbet", and its name on a
    // development editor server.
    static constexpr const char* previewPageName = "preview.html";
    static constexpr const char* devPreviewPageName = "preview.dev.html";
    static constexpr double fadeInSeconds = 0.3;

    static std::shared_ptr<KorvelViewController> make();
    ~KorvelViewController();
    KorvelViewController(const KorvelViewController&) = delete;
    KorvelViewController& operator=(const KorvelViewController&) = delete;

    GtkWidget* view() const { return webViewController_->webView().widget(); }
    WebViewController& webViewController() const { return *webViewController_; }

    void setDocument(std::weak_ptr<PreviewDocument> document) { document_ = std::move(document); }
    void setPreviewWindowController(std::weak_ptr<PreviewWindowController> controller)
    {
        windowController_ = std::move(controller);
    }
    bool isLoading() const { return isLoading_; }

    // Loads the preview page from the document's project server; nothing without a document,
    // without both server addresses, or while a reload runs.
    void reload();
    void handleBridgeMethod(const std::string& method, const nlohmann::json& arguments);

    // The page's address: the development editor server's "preview.dev.html" when there is one,
    // else the project server's page; its query exactly "imageBaseURL" (the server's own
    // address, each "+" as "%2B"), "projectURL" and "console=1". None when it cannot be made
    // (the line that says why is printed).
    static std::optional<std::string> previewPageURL(const std::optional<std::string>& devServerURL,
                                                     const std::string& serverURL, const std::string& serverLocalUrl);
    // A package name of npm's grammar for new packages (an optional "@scope/" and a name of
    // lower-case letters, digits, "-", ".", "_" and "~", beginning with a letter or digit, at
    // most 214 characters). URLs, paths, file: and git: specifiers, versions and option-like
    // names are not.
    static bool isPackageName(std::string_view name);

private:
    KorvelViewController();
    void setupWebView();
    void layOutInPoints();
    void fadeIn();

    std::weak_ptr<PreviewDocument> document_;
    std::weak_ptr<PreviewWindowController> windowController_;
    std::shared_ptr<WebViewController> webViewController_;
    bool isLoading_ = false;
    guint fadeTick_ = 0;
    gint64 fadeStart_ = 0;
    SignalConnection textScaleChanged_;
};

} // namespace kx
