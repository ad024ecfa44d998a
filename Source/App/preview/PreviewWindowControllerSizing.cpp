// The preview window's size and place: its first frame, the snapping of resizes by the user,
// the tracking of moves, the resize title and the frame that makes room for the inspector.
#include "App/preview/PreviewWindowController.h"

#include <algorithm>
#include <cmath>

#include "App/web/WKWebViewExtras.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/UI/Window.h"

namespace kx {

Size PreviewWindowController::intrinsicContentSize() const
{
    return deviceSelection_.intrinsicContentSize();
}

double PreviewWindowController::titleBarHeight() const
{
    const double height = window_->titleBarHeight();
    return height > 0 ? height : PreviewSizing::defaultTitleBarHeight;
}

std::optional<Rect> PreviewWindowController::updatedWindowFrameForFirstAppearance(const Rect& frame) const
{
    GtkWindow* documentWindow = document_ ? document_->documentWindow() : nullptr;
    if (!documentWindow)
        return std::nullopt;
    const auto workArea = PreviewWindow::workAreaOfWindow(documentWindow);
    if (!workArea)
        return std::nullopt;
    return PreviewSizing::firstAppearanceFrame(frame, intrinsicContentSize(), titleBarHeight(),
                                               PreviewWindow::frameOfWindow(documentWindow), *workArea,
                                               window_->minimumSize());
}

void PreviewWindowController::windowWillStartLiveResize()
{
    isLiveResizing_ = true;
    windowSizeAtStartOfResizing_ = window_->frame().size;
}

void PreviewWindowController::windowDidEndLiveResize()
{
    isLiveResizing_ = false;
    updateTitle();
}

Size PreviewWindowController::windowWillResize(Size proposed)
{
    updateTitle();
    PreviewSizing::ResizeContext context;
    context.isLiveResizing = isLiveResizing_ && window_->isResizing();
    context.freeResizing = deviceSelection_.isFreeResizing();
    context.showsBezel = deviceShowBezel();
    context.titleBarHeight = titleBarHeight();
    context.intrinsic = intrinsicContentSize();
    context.startSize = windowSizeAtStartOfResizing_;
    context.minimumSize = window_->minimumSize();
    return PreviewSizing::snappedSize(proposed, context);
}

Rect PreviewWindowController::frameForDrag(const Rect& start, unsigned edges, double dx, double dy)
{
    Rect frame = PreviewWindow::draggedFrame(start, edges, dx, dy);
    frame.size = windowWillResize(frame.size);
    // The window is never smaller than its minimum, and the sides not dragged stay where they
    // were.
    const Size minimum = window_->minimumSize();
    frame.size.width = std::max(frame.size.width, minimum.width);
    frame.size.height = std::max(frame.size.height, minimum.height);
    if (edges & PreviewWindow::left)
        frame.origin.x = start.origin.x + start.size.width - frame.size.width;
    if (edges & PreviewWindow::top)
        frame.origin.y = start.origin.y + start.size.height - frame.size.height;
    if (auto area = window_->workArea())
        frame = PreviewSizing::constrainedToWorkArea(frame, *area);
    return frame;
}

// ---- Moves ----

namespace {

struct PointerState {
    Point location;
    bool primaryDown = false;
};

std::optional<PointerState> pointerState(GtkWidget* widget)
{
    GdkDisplay* display = gtk_widget_get_display(widget);
    GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    GdkWindow* root = gdk_screen_get_root_window(gtk_widget_get_screen(widget));
    if (!pointer || !root)
        return std::nullopt;
    double axes[8] = {};
    GdkModifierType mask = GdkModifierType(0);
    gdk_device_get_state(pointer, root, axes, &mask);
    int x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    return PointerState{{double(x), double(y)}, (mask & GDK_BUTTON1_MASK) != 0};
}

} // namespace

void PreviewWindowController::windowWillMove()
{
    // One tracking period at a time: a second press while one runs changes nothing. Under
    // Wayland the compositor moves the window and tells the client neither where the pointer
    // is outside its windows nor where the window went: there is nothing to track.
    if (mouseTimer_ || !Window::isX11Display(gtk_widget_get_display(window_->widget())))
        return;
    const auto pointer = pointerState(window_->widget());
    startMouseLocation_ = pointer ? std::optional<Point>(pointer->location) : std::nullopt;
    startWindowFrame_ = window_->frame();
    // The window manager holds the pointer while it moves the window, so no release reaches
    // us: the button's state is polled instead.
    mouseTimer_ = MainQueue::repeating(std::chrono::milliseconds(int(dragPollSeconds * 1000)),
                                       ifAlive(weak_from_this(), &PreviewWindowController::mouseDidDrag));
}

void PreviewWindowController::mouseDidDrag()
{
    const auto pointer = pointerState(window_->widget());
    if (!pointer || !pointer->primaryDown) {
        windowDidEndMoving();
        return;
    }
    if (startMouseLocation_ && startWindowFrame_) {
        Rect moved = *startWindowFrame_;
        moved.origin.x += pointer->location.x - startMouseLocation_->x;
        moved.origin.y += pointer->location.y - startMouseLocation_->y;
        // The window is a child of no other window: nothing to detach it from.
        (void)moved;
    }
}

void PreviewWindowController::windowDidMove()
{
    if (!mouseTimer_)
        return;
    // The window moved under the pointer: measure from here on.
    if (auto pointer = pointerState(window_->widget()))
        startMouseLocation_ = pointer->location;
    startWindowFrame_ = window_->frame();
}

void PreviewWindowController::windowDidEndMoving()
{
    if (mouseTimer_)
        mouseTimer_->cancel();
    mouseTimer_.reset();
    startMouseLocation_.reset();
    startWindowFrame_.reset();
    if (!cleanedUp_ && isVisible())
        gtk_widget_show(window_->widget());
}

// ---- Title and inspector ----

bool PreviewWindowController::setPreviewContentScale(double scale)
{
    const bool changed = !(scale == previewContentScale_);
    previewContentScale_ = scale;
    return changed;
}

void PreviewWindowController::updateTitle()
{
    GtkLabel* label = window_->titleLabel();
    settingsButton_->setEnabled(true);
    const bool free = deviceSelection_.isFreeResizing();
    const std::optional<Size> windowSize = free ? std::optional<Size>(window_->frame().size) : std::nullopt;
    const std::string text = PreviewSizing::titleText(previewContentScale_, free, windowSize, titleBarHeight());
    gtk_label_set_text(label, text.c_str());
    const Size titleBar{double(gtk_widget_get_allocated_width(window_->titleBar())), titleBarHeight()};
    int fittingHeight = 0;
    gtk_widget_get_preferred_height(GTK_WIDGET(label), nullptr, &fittingHeight);
    const Rect frame = PreviewSizing::titleFrame(titleBar, {0, double(fittingHeight)});
    gtk_widget_set_margin_start(GTK_WIDGET(label), int(frame.origin.x));
    gtk_widget_set_margin_top(GTK_WIDGET(label), std::max(0, int(frame.origin.y)));
    gtk_widget_set_size_request(GTK_WIDGET(label), int(frame.size.width), -1);
    gtk_widget_set_visible(GTK_WIDGET(label), PreviewSizing::titleIsVisible(isLiveResizing_, frame));
}

void PreviewWindowController::showInspector()
{
    GtkWindow* documentWindow = document_ ? document_->documentWindow() : nullptr;
    if (!documentWindow || !korvelViewController_)
        return;
    WebKitWebView* view = korvelViewController_->webViewController().webView().wkWebView();
    if (WKWebViewExtras::isInspectorAttached(view))
        return;
    const Rect frame = PreviewSizing::inspectorFrame(PreviewWindow::frameOfWindow(documentWindow), window_->frame(),
                                                     WKWebViewExtras::minimumSizeToAttachInspector().width,
                                                     window_->workArea());
    window_->setFrame(frame);
    // Attaching needs the new size, which the web view has once the window has been laid out:
    // the inspector is shown at the first allocation wide enough, or after a moment at most.
    auto shown = std::make_shared<bool>(false);
    auto allocation = std::make_shared<SignalConnection>();
    const auto show = ifAlive(weak_from_this(), [shown, allocation](PreviewWindowController& self) {
        if (*shown || !self.korvelViewController_)
            return;
        *shown = true;
        allocation->disconnect();
        WKWebViewExtras::showInspectorAttached(self.korvelViewController_->webViewController().webView().wkWebView(),
                                               true, {});
    });
    const double width = std::max(WKWebViewExtras::minimumSizeToAttachInspector().width,
                                  PreviewSizing::webKitMinimumAttachWidth);
    *allocation = SignalConnection::connect<void(GtkWidget*, GdkRectangle*)>(
        korvelViewController_->view(), "size-allocate", [show, width](GtkWidget*, GdkRectangle* rectangle) {
            if (rectangle->width >= width)
                MainQueue::async(show);
        });
    MainQueue::after(std::chrono::milliseconds(500), show);
}

} // namespace kx
