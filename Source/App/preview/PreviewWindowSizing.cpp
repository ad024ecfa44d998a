#include "App/preview/PreviewWindowSizing.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "App/preview/PreviewSizing.h"
#include "Platform/UI/Window.h"

namespace kx {

namespace {

struct PointerReading {
    Point location;
    bool primaryDown = false;
};

std::optional<PointerReading> pointerStateOn(GtkWidget* widget)
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
    return PointerReading{{double(x), double(y)}, (mask & GDK_BUTTON1_MASK) != 0};
}

// The frame a state file keeps, when it reads: finite, of a sane size and place.
std::optional<Rect> storedFrame(const nlohmann::json& state)
{
    const auto found = state.is_object() ? state.find("frame") : state.end();
    if (!state.is_object() || found == state.end() || !found->is_array() || found->size() != 4)
        return std::nullopt;
    double values[4];
    for (std::size_t i = 0; i < 4; ++i) {
        if (!(*found)[i].is_number() || !std::isfinite((*found)[i].get<double>()))
            return std::nullopt;
        values[i] = (*found)[i].get<double>();
    }
    constexpr double limit = 100000;
    if (!(values[2] >= 1 && values[3] >= 1 && values[2] <= limit && values[3] <= limit && std::abs(values[0]) <= limit
          && std::abs(values[1]) <= limit))
        return std::nullopt;
    return Rect{{values[0], values[1]}, {values[2], values[3]}};
}

} // namespace

PreviewWindowSizing::PreviewWindowSizing(PreviewWindow& window, std::function<Device()> device,
                                         std::function<GtkWindow*()> documentWindow)
    : window_(window)
    , device_(std::move(device))
    , documentWindow_(std::move(documentWindow))
{
}

PreviewWindowSizing::~PreviewWindowSizing()
{
    endMove();
}

double PreviewWindowSizing::titleBarHeight() const
{
    const double height = window_.titleBarHeight();
    return height > 0 ? height : PreviewSizing::defaultTitleBarHeight;
}

// ---- The first appearance ----

std::optional<Rect> PreviewWindowSizing::firstAppearanceFrame(const Rect& frame) const
{
    GtkWindow* documentWindow = documentWindow_();
    if (!documentWindow)
        return std::nullopt;
    const auto workArea = PreviewWindow::workAreaOfWindow(documentWindow);
    if (!workArea)
        return std::nullopt;
    return PreviewSizing::firstAppearanceFrame(frame, device_().intrinsic, titleBarHeight(),
                                               PreviewWindow::frameOfWindow(documentWindow),
                                               window_.insideBorders(*workArea), window_.minimumSize());
}

Rect PreviewWindowSizing::placed(const Rect& frame) const
{
    if (!isFirstAppearance_)
        return frame;
    return firstAppearanceFrame(frame).value_or(frame);
}

std::optional<Rect> PreviewWindowSizing::appear(const Rect& frame)
{
    if (!isFirstAppearance_)
        return std::nullopt;
    auto first = firstAppearanceFrame(frame);
    if (first)
        isFirstAppearance_ = false;
    return first;
}

// ---- Resizing by the user ----

void PreviewWindowSizing::willStartLiveResize()
{
    isLiveResizing_ = true;
    sizeAtStartOfResizing_ = window_.frame().size;
}

Size PreviewWindowSizing::snappedSize(Size proposed) const
{
    const Device device = device_();
    PreviewSizing::ResizeContext context;
    context.isLiveResizing = isLiveResizing_ && window_.isResizing();
    context.freeResizing = device.freeResizing;
    context.showsBezel = device.showsBezel;
    context.titleBarHeight = titleBarHeight();
    context.intrinsic = device.intrinsic;
    context.startSize = sizeAtStartOfResizing_;
    context.minimumSize = window_.minimumSize();
    return PreviewSizing::snappedSize(proposed, context);
}

Rect PreviewWindowSizing::frameForDrag(const Rect& start, unsigned edges, Size size) const
{
    const Size minimum = window_.minimumSize();
    Rect frame{start.origin, {std::max(size.width, minimum.width), std::max(size.height, minimum.height)}};
    if (edges & PreviewWindow::left)
        frame.origin.x = start.origin.x + start.size.width - frame.size.width;
    if (edges & PreviewWindow::top)
        frame.origin.y = start.origin.y + start.size.height - frame.size.height;
    if (auto area = window_.workArea())
        frame = constrainedToWorkArea(frame, *area);
    return frame;
}

// ---- Moves by the user ----

void PreviewWindowSizing::beginMove(std::function<void()> poll)
{
    if (move_ || !Window::isX11Display(gtk_widget_get_display(window_.widget())))
        return;
    const auto pointer = pointerStateOn(window_.widget());
    move_ = Move{nullptr, pointer ? std::optional<Point>(pointer->location) : std::nullopt, window_.frame()};
    move_->timer = MainQueue::repeating(movePollInterval, std::move(poll));
}

bool PreviewWindowSizing::isMoveButtonDown() const
{
    const auto pointer = pointerStateOn(window_.widget());
    return pointer && pointer->primaryDown;
}

void PreviewWindowSizing::windowDidMove()
{
    if (!move_)
        return;
    if (auto pointer = pointerStateOn(window_.widget()))
        move_->startMouseLocation = pointer->location;
    move_->startWindowFrame = window_.frame();
}

void PreviewWindowSizing::endMove()
{
    if (move_ && move_->timer)
        move_->timer->cancel();
    move_.reset();
}

// ---- The title ----

bool PreviewWindowSizing::setContentScale(double scale)
{
    const bool changed = !(scale == contentScale_);
    contentScale_ = scale;
    return changed;
}

void PreviewWindowSizing::updateTitle()
{
    GtkLabel* label = window_.titleLabel();
    const bool free = device_().freeResizing;
    const std::optional<Size> windowSize = free ? std::optional<Size>(window_.frame().size) : std::nullopt;
    const std::string text = PreviewSizing::titleText(contentScale_, free, windowSize, titleBarHeight());
    gtk_label_set_text(label, text.c_str());
    const Size titleBar{double(gtk_widget_get_allocated_width(window_.titleBar())), titleBarHeight()};
    int fittingHeight = 0;
    gtk_widget_get_preferred_height(GTK_WIDGET(label), nullptr, &fittingHeight);
    const Rect frame = PreviewSizing::titleFrame(titleBar, {0, double(fittingHeight)});
    gtk_widget_set_margin_start(GTK_WIDGET(label), int(frame.origin.x));
    gtk_widget_set_margin_top(GTK_WIDGET(label), std::max(0, int(frame.origin.y)));
    gtk_widget_set_size_request(GTK_WIDGET(label), int(frame.size.width), -1);
    gtk_widget_set_visible(GTK_WIDGET(label), PreviewSizing::titleIsVisible(isLiveResizing_, frame));
}

// ---- The frame for the next launch ----

nlohmann::json PreviewWindowSizing::encodeFrame() const
{
    const Rect frame = window_.frame();
    return {{"frame", {frame.origin.x, frame.origin.y, frame.size.width, frame.size.height}}};
}

void PreviewWindowSizing::restoreFrame(const nlohmann::json& state)
{
    // The state file is ours but lies on disk: anything odd in it is ignored.
    const Rect frame = placed(storedFrame(state).value_or(window_.frame()));
    // The monitors may have changed since: the window comes back whole on one of them.
    window_.setFrame(PreviewSizing::frameOnMonitor(frame, window_.workAreas(), titleBarHeight(), window_.minimumSize()));
}

} // namespace kx
