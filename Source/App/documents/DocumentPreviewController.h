// What a project document asks of its preview window: showing, reloading, live sharing, the
// inspector, store data, ordering beside the document window, and going away. The preview
// window is built on its own; until it registers a factory, documents have none, and their
// preview commands and title-bar buttons are not offered. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

namespace kx {

class PDBaseDocument;

class DocumentPreviewController {
public:
    virtual ~DocumentPreviewController() = default;

    // The preview window, nullptr before it is made.
    virtual GtkWindow* window() const = 0;
    virtual bool isVisible() const = 0;
    virtual bool isMiniaturized() const = 0;
    virtual void showWithMakeKey(bool makeKey) = 0;
    virtual void orderOut() = 0;
    virtual void reload() = 0;
    virtual void togglePreviewFullscreen() = 0;
    virtual void toggleLiveSharingPopover(GtkWidget* fromButton) = 0;
    virtual void showInspector() = 0;
    virtual void nimbetServerStoreData(const std::optional<nlohmann::json>& arguments) = 0;
    // The document started a new project server (after the last one ended).
    virtual void serverControllerDidChange() { }
    // The document's name changed (a save under a new name, a move): the window's title follows.
    virtual void displayNameDidChange() { }
    // The window's state for the next launch (its frame), and putting it back.
    virtual nlohmann::json encodeRestorableState() const { return nullptr; }
    virtual void restoreState(const nlohmann::json& state) { (void)state; }
    virtual void cleanup() = 0;

    using Factory = std::function<std::shared_ptr<DocumentPreviewController>(PDBaseDocument& document)>;
    // Set once by the preview window's code; documents made afterwards get a preview.
    static void setFactory(Factory factory);
    static const Factory& factory();
};

} // namespace kx
