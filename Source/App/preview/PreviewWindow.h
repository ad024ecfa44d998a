// The preview window: a utility window of ours with a dark look, a title bar that holds the
// toolbar and a small title label in place of the window title, the preview page below it, and
// resize handles of its own along its edges. Its size follows its content (the window manager
// does not resize it), so every size it takes passes through its controller's snapping; the
// handles tell when a resize by the user starts and ends. It is never transient for the
// document window, so that it can be ordered below it.
//
// Frames are the window as the user sees it, title bar included and client-side shadow left
// out, in root coordinates with the origin at the top left. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Geometry.h"
#include "Platform/UI/Window.h"

namespace kx {

class PreviewWindow : public Window {
public:
    enum Edge : unsigned { left = 1, right = 2, top = 4, bottom = 8 };

    // How a drag of a handle resizes: told the start, asked for each frame, told the end.
    struct ResizeHandler {
        std::function<void()> willStart;
        // The frame the window takes for a drag of `edges` by (dx, dy) from `start`.
        std::function<Rect(const Rect& start, unsigned edges, double dx, double dy)> frameForDrag;
        std::function<void()> didEnd;
    };

    PreviewWindow();
    ~PreviewWindow() override;

    GtkHeaderBar* headerBar() const { return headerBar_; }
    // The title bar: the header bar with the title label and top handles over it.
    GtkWidget* titleBar() const { return titleBar_; }
    GtkLabel* titleLabel() const { return titleLabel_; }
    // The view that holds the preview page.
    GtkWidget* previewView() const { return previewView_; }
    void setPreviewPage(GtkWidget* page);

    Rect frame() const;
    // Moves the window and sizes its content so that the whole window has `frame`'s size.
    void setFrame(const Rect& frame);
    double titleBarHeight() const;
    // The work area of the monitor the window is on (or would be on, at its frame), less the
    // window's border: where its frames stay for the whole window to stay in the work area.
    std::optional<Rect> workArea() const;
    // The work areas of all monitors of the window's display, likewise.
    std::vector<Rect> workAreas() const;
    // The smallest frame the window takes whatever size its content asks for: its toolbar's
    // width.
    Size minimumSize() const;

    // The frame of another top-level window (a document window), by the same rules.
    static Rect frameOfWindow(GtkWindow* window);
    static std::optional<Rect> workAreaOfWindow(GtkWindow* window);

    // Asks the window manager to keep the window above the others. Wayland has no such request
    // (xdg-shell leaves stacking to the compositor): there the setting is kept and does nothing.
    void setKeepAbove(bool above);
    bool keepsAbove() const { return keepsAbove_; }

    void setResizeHandler(ResizeHandler handler) { resizeHandler_ = std::move(handler); }
    bool isResizing() const { return resizeEdges_ != 0; }
    // The frame that a drag of `edges` by (dx, dy) proposes before any snapping: the dragged
    // sides move, the others stay.
    static Rect draggedFrame(const Rect& start, unsigned edges, double dx, double dy);

    // Called as the window closes (its close button): the inspector goes with it.
    std::function<void()> willClose;
    // A press of the primary button on the title bar itself (not on its buttons or handles),
    // where a move of the window by the user begins, and the release of that press when it
    // reaches the window (a move that the window manager or GDK performs keeps it).
    std::function<void()> titleBarPressed;
    std::function<void()> titleBarReleased;
    // Key presses after the page and the menus had them.
    std::function<bool(const GdkEventKey&)> keyPressed;

    static constexpr const char* styleClass = "kx-preview";

protected:
    void windowWillClose() override;

private:
    struct Handle;
    void addHandle(GtkOverlay* overlay, unsigned edges);
    void applyDarkStyle(GtkWidget* widget);
    void handleDragBegin(Handle& handle, double x, double y);
    void handleDragUpdate(Handle& handle);
    void handleDragEnd(Handle& handle);
    bool isOnTitleBar(GtkGesture* gesture, double x, double y) const;

    GtkHeaderBar* headerBar_ = nullptr;
    GtkWidget* titleBar_ = nullptr;
    GtkLabel* titleLabel_ = nullptr;
    GtkWidget* contentOverlay_ = nullptr;
    GtkWidget* previewView_ = nullptr;
    bool keepsAbove_ = false;
    ResizeHandler resizeHandler_;
    std::vector<std::unique_ptr<Handle>> handles_;
    GObjectRef<GtkGesture> titleBarGesture_;
    unsigned resizeEdges_ = 0;
    Rect resizeStartFrame_;
    Point resizeStartPointer_;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
