// The window of a project document: the application's menu bar, a tall title bar with the
// document's name and, on its right, the title-bar buttons (preview and live sharing when the
// document has a preview window, the support messenger outside the enterprise edition), and
// the editor below. Escape that no widget took becomes "WindowEscPressedNotification" for
// whoever edits in the window. Closing it closes its document, after the document's questions.
//
// Window tabs have no counterpart here: the window has no tab bar and no tab commands.
// Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "App/shell/widgets/ToolbarAccessoryView.h"
#include "App/shell/widgets/ToolbarButton.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/Window.h"

namespace kx {

class PDBaseDocument;

inline constexpr const char* WindowEscPressedNotification = "WindowEscPressedNotification";

class PDDocumentWindow : public Window {
public:
    static constexpr int defaultWidth = 1280;
    static constexpr int defaultHeight = 800;

    struct Buttons {
        bool preview = false;
        bool liveSharing = false;
        bool messenger = true;
    };

    PDDocumentWindow(std::weak_ptr<PDBaseDocument> document, GtkWidget* editorView, Buttons buttons);
    ~PDDocumentWindow() override;

    // The height of the title bar (the window's height above its content).
    double heightOfTitleBar() const;

    ToolbarAccessoryView& toolbarAccessoryView() { return accessory_; }
    ToolbarButton* previewButton() const { return previewButton_.get(); }
    ToolbarButton* livePreviewButton() const { return livePreviewButton_.get(); }
    ToolbarButton* intercomButton() const { return intercomButton_.get(); }
    // The messenger button's image by unread count, and whether it can be used.
    void setIntercomImage(const std::string& imageName);
    void setIntercomEnabled(bool enabled);

    // The window's own responder: it follows the focused widget's and precedes the document.
    Responder& responder() { return responder_; }

protected:
    void performClose() override;
    void windowWillClose() override;

private:
    bool keyPressed(const GdkEventKey& event);
    std::unique_ptr<ToolbarButton> makeButton(const std::string& image, const std::string& tooltip, std::function<void()> action);

    std::weak_ptr<PDBaseDocument> document_;
    // The editor's view belongs to the editor: it leaves the window before the window goes.
    GObjectRef<GtkWidget> editorView_;
    Responder responder_;
    ToolbarAccessoryView accessory_;
    GtkWidget* buttonBox_ = nullptr;
    std::unique_ptr<ToolbarButton> previewButton_;
    std::unique_ptr<ToolbarButton> livePreviewButton_;
    std::unique_ptr<ToolbarButton> intercomButton_;
    std::string intercomImage_;
    SignalConnection keyPress_;
};

} // namespace kx
