#include "App/preview/PreviewWindow.h"

#include <algorithm>
#include <cmath>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

namespace {

constexpr int edgeThickness = 5;
constexpr int cornerSize = 14;
constexpr double largestSide = 100000;
constexpr const char* darkStyleKey = "kx-preview-dark-style";

GtkCssProvider* previewStyle()
{
    static GtkCssProvider* provider = [] {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css,
                                        "window.kx-preview, .kx-preview-content { background-color: #1e1f22; }"
                                        // Without a compositor GTK draws a frame of the light
                                        // theme around client-side decorations; ours is dark
                                        // and thin, and the handles do the resizing.
                                        "window.kx-preview.solid-csd decoration { margin: 0; padding: 0; "
                                        "  border: 1px solid #0c0c0e; border-radius: 0; box-shadow: none; }"
                                        "headerbar.kx-preview-titlebar { min-height: 38px; padding: 0 6px; "
                                        "  background: #2a2b2f; border: none; box-shadow: none; }"
                                        "headerbar.kx-preview-titlebar button { min-width: 0; min-height: 0; padding: 0; }"
                                        // Room around the image for the keyboard's focus ring.
                                        "headerbar.kx-preview-titlebar button.kx-preview-toolbar-button { "
                                        "  min-width: 24px; min-height: 24px; }"
                                        ".kx-preview-divider { background-color: rgb(82, 82, 82); min-width: 1px; "
                                        "  min-height: 15px; margin: 0 4px; }"
                                        ".kx-preview-title { color: rgba(255, 255, 255, 0.25); font-size: 12px; "
                                        "  font-feature-settings: \"tnum\"; }",
                                        -1, nullptr);
        return css;
    }();
    return provider;
}

// GTK 3 has no dark variant per window: the theme's dark style sheet goes to each widget of
// this window alone.
GtkStyleProvider* darkThemeStyle()
{
    gchar* theme = nullptr;
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_get(settings, "gtk-theme-name", &theme, nullptr);
    GtkCssProvider* provider = gtk_css_provider_get_named(theme ? theme : "Adwaita", "dark");
    g_free(theme);
    if (!provider)
        provider = gtk_css_provider_get_named("Adwaita", "dark");
    return provider ? GTK_STYLE_PROVIDER(provider) : nullptr;
}

int whole(double value)
{
    if (!std::isfinite(value))
        return 0;
    return int(std::lround(std::clamp(value, -largestSide, largestSide)));
}

const char* cursorName(unsigned edges)
{
    using E = PreviewWindow::Edge;
    switch (edges) {
    case E::left: return "w-resize";
    case E::right: return "e-resize";
    case E::top: return "n-resize";
    case E::bottom: return "s-resize";
    case E::left | E::top: return "nw-resize";
    case E::right | E::top: return "ne-resize";
    case E::left | E::bottom: return "sw-resize";
    default: return "se-resize";
    }
}

} // namespace

struct PreviewWindow::Handle {
    PreviewWindow* owner = nullptr;
    unsigned edges = 0;
    GtkWidget* area = nullptr;
    GObjectRef<GtkGesture> gesture;
    GdkSeat* grabbedSeat = nullptr;
    std::vector<SignalConnection> connections;
};

PreviewWindow::PreviewWindow()
    : Window(Size{390, 600})
{
    GtkWindow* window = gtkWindow();
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
    // Sizes come from the content, so that the controller decides each one.
    gtk_window_set_resizable(window, FALSE);
    gtk_style_context_add_class(gtk_widget_get_style_context(widget()), styleClass);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(previewStyle()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    // The title bar: the toolbar's header bar, the title label and the top handles over it.
    titleBar_ = gtk_overlay_new();
    GtkWidget* header = gtk_header_bar_new();
    headerBar_ = GTK_HEADER_BAR(header);
    gtk_header_bar_set_show_close_button(headerBar_, TRUE);
    gtk_header_bar_set_custom_title(headerBar_, gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
    gtk_style_context_add_class(gtk_widget_get_style_context(header), "kx-preview-titlebar");
    gtk_container_add(GTK_CONTAINER(titleBar_), header);
    GtkWidget* label = gtk_label_new("");
    titleLabel_ = GTK_LABEL(label);
    gtk_label_set_ellipsize(titleLabel_, PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_single_line_mode(titleLabel_, TRUE);
    gtk_widget_set_halign(label, GTK_ALIGN_START);
    gtk_widget_set_valign(label, GTK_ALIGN_START);
    gtk_widget_set_no_show_all(label, TRUE);
    gtk_style_context_add_class(gtk_widget_get_style_context(label), "kx-preview-title");
    gtk_overlay_add_overlay(GTK_OVERLAY(titleBar_), label);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(titleBar_), label, TRUE);
    gtk_widget_show_all(titleBar_);
    gtk_widget_hide(label);
    gtk_window_set_titlebar(window, titleBar_);

    // The content: the preview page with the other handles over its edges.
    contentOverlay_ = gtk_overlay_new();
    previewView_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_style_context_add_class(gtk_widget_get_style_context(previewView_), "kx-preview-content");
    gtk_container_add(GTK_CONTAINER(contentOverlay_), previewView_);
    gtk_widget_show(previewView_);
    setContentView(contentOverlay_);

    for (unsigned edges : {unsigned(top), unsigned(left | top), unsigned(right | top)})
        addHandle(GTK_OVERLAY(titleBar_), edges);
    for (unsigned edges : {unsigned(left), unsigned(right), unsigned(bottom), unsigned(left | bottom), unsigned(right | bottom)})
        addHandle(GTK_OVERLAY(contentOverlay_), edges);

    // The title bar and the header bar have no window of their own: a press on them reaches the
    // top-level window's, where GTK starts the move, and is watched there.
    titleBarGesture_ = GObjectRef<GtkGesture>::adopt(gtk_gesture_multi_press_new(widget()));
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(titleBarGesture_.get()), GDK_BUTTON_PRIMARY);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(titleBarGesture_.get()), GTK_PHASE_BUBBLE);
    connections_.push_back(SignalConnection::connect<void(GtkGestureMultiPress*, int, double, double)>(
        titleBarGesture_.get(), "pressed", [this](GtkGestureMultiPress* gesture, int, double x, double y) {
            if (titleBarPressed && isOnTitleBar(GTK_GESTURE(gesture), x, y))
                titleBarPressed();
        }));
    connections_.push_back(SignalConnection::connect<void(GtkGestureMultiPress*, int, double, double)>(
        titleBarGesture_.get(), "released", [this](GtkGestureMultiPress*, int, double, double) {
            if (titleBarReleased)
                titleBarReleased();
        }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        widget(), "key-press-event",
        [this](GtkWidget*, GdkEventKey* event) -> gboolean { return keyPressed && keyPressed(*event); }, G_CONNECT_AFTER));
    // Styled once realised, which is also when the header bar makes its window buttons: the
    // theme's dark style sheet, parsed at its first use, costs nothing to a preview that stays
    // hidden (each document has one from its opening on).
    connections_.push_back(SignalConnection::connect<void(GtkWidget*)>(
        widget(), "realize", [this](GtkWidget* window) { applyDarkStyle(window); }, G_CONNECT_AFTER));
    connections_.push_back(SignalConnection::connect<void(GtkWidget*)>(
        widget(), "map", [this](GtkWidget* window) { applyDarkStyle(window); }));
}

PreviewWindow::~PreviewWindow()
{
    connections_.clear();
    titleBarGesture_.reset();
    for (auto& handle : handles_) {
        if (handle->grabbedSeat)
            gdk_seat_ungrab(handle->grabbedSeat);
        handle->connections.clear();
    }
}

bool PreviewWindow::isOnTitleBar(GtkGesture* gesture, double x, double y) const
{
    // Buttons take their presses; the handles have windows of their own and resize instead.
    const GdkEvent* event = gtk_gesture_get_last_event(gesture, gtk_gesture_single_get_current_sequence(GTK_GESTURE_SINGLE(gesture)));
    if (!event || gtk_get_event_widget(const_cast<GdkEvent*>(event)) != widget())
        return false;
    int barX = 0, barY = 0;
    if (!gtk_widget_translate_coordinates(widget(), titleBar_, int(std::floor(x)), int(std::floor(y)), &barX, &barY))
        return false;
    return barX >= 0 && barY >= 0 && barX < gtk_widget_get_allocated_width(titleBar_)
        && barY < gtk_widget_get_allocated_height(titleBar_);
}

void PreviewWindow::applyDarkStyle(GtkWidget* widget)
{
    if (!gtk_widget_get_realized(this->widget()))
        return;
    GtkStyleProvider* dark = darkThemeStyle();
    if (!dark)
        return;
    if (!g_object_get_data(G_OBJECT(widget), darkStyleKey)) {
        gtk_style_context_add_provider(gtk_widget_get_style_context(widget), dark, GTK_STYLE_PROVIDER_PRIORITY_THEME + 1);
        g_object_set_data(G_OBJECT(widget), darkStyleKey, GINT_TO_POINTER(1));
    }
    if (GTK_IS_CONTAINER(widget)) {
        // Internal children too: the header bar's window buttons.
        gtk_container_forall(
            GTK_CONTAINER(widget),
            +[](GtkWidget* child, gpointer self) { static_cast<PreviewWindow*>(self)->applyDarkStyle(child); }, this);
    }
}

void PreviewWindow::setPreviewPage(GtkWidget* page)
{
    gtk_container_foreach(GTK_CONTAINER(previewView_), +[](GtkWidget* child, gpointer box) {
        gtk_container_remove(GTK_CONTAINER(box), child);
    }, previewView_);
    if (!page)
        return;
    gtk_box_pack_start(GTK_BOX(previewView_), page, TRUE, TRUE, 0);
    gtk_widget_show(page);
    applyDarkStyle(page);
}

void PreviewWindow::addHandle(GtkOverlay* overlay, unsigned edges)
{
    auto handle = std::make_unique<Handle>();
    handle->owner = this;
    handle->edges = edges;
    GtkWidget* area = gtk_drawing_area_new();
    handle->area = area;
    const bool corner = (edges & (left | right)) && (edges & (top | bottom));
    const bool vertical = edges & (left | right);
    gtk_widget_set_size_request(area, corner ? cornerSize : vertical ? edgeThickness : -1,
                                corner ? cornerSize : vertical ? -1 : edgeThickness);
    gtk_widget_set_halign(area, edges & left ? GTK_ALIGN_START : edges & right ? GTK_ALIGN_END : GTK_ALIGN_FILL);
    gtk_widget_set_valign(area, edges & top ? GTK_ALIGN_START : edges & bottom ? GTK_ALIGN_END : GTK_ALIGN_FILL);
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    gtk_overlay_add_overlay(overlay, area);
    gtk_widget_show(area);
    Handle* raw = handle.get();
    handle->connections.push_back(SignalConnection::connect<void(GtkWidget*)>(
        area, "realize", [edges](GtkWidget* widget) {
            const auto cursor = GObjectRef<GdkCursor>::adopt(
                gdk_cursor_new_from_name(gtk_widget_get_display(widget), cursorName(edges)));
            gdk_window_set_cursor(gtk_widget_get_window(widget), cursor.get());
        }, G_CONNECT_AFTER));
    handle->gesture = GObjectRef<GtkGesture>::adopt(gtk_gesture_drag_new(area));
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(handle->gesture.get()), GDK_BUTTON_PRIMARY);
    handle->connections.push_back(SignalConnection::connect<void(GtkGestureDrag*, double, double)>(
        handle->gesture.get(), "drag-begin",
        [raw](GtkGestureDrag*, double x, double y) { raw->owner->handleDragBegin(*raw, x, y); }));
    handle->connections.push_back(SignalConnection::connect<void(GtkGestureDrag*, double, double)>(
        handle->gesture.get(), "drag-update", [raw](GtkGestureDrag*, double, double) { raw->owner->handleDragUpdate(*raw); }));
    handle->connections.push_back(SignalConnection::connect<void(GtkGestureDrag*, double, double)>(
        handle->gesture.get(), "drag-end", [raw](GtkGestureDrag*, double, double) { raw->owner->handleDragEnd(*raw); }));
    handle->connections.push_back(SignalConnection::connect<void(GtkGesture*, GdkEventSequence*)>(
        handle->gesture.get(), "cancel", [raw](GtkGesture*, GdkEventSequence*) { raw->owner->handleDragEnd(*raw); }));
    handles_.push_back(std::move(handle));
}

namespace {

// Where the pointer was at the event being handled, not where it is by now: on a busy machine
// the press is handled after the hand has moved on, and a resize measured from there would lag
// behind the pointer by that distance to its end.
std::optional<Point> pointerPosition(GtkGesture* gesture)
{
    const GdkEvent* event = gtk_gesture_get_last_event(gesture, gtk_gesture_single_get_current_sequence(GTK_GESTURE_SINGLE(gesture)));
    double rootX = 0, rootY = 0;
    if (event && gdk_event_get_root_coords(event, &rootX, &rootY))
        return Point{rootX, rootY};
    GdkDevice* device = gtk_gesture_get_device(gesture);
    if (!device)
        return std::nullopt;
    int x = 0, y = 0;
    gdk_device_get_position(device, nullptr, &x, &y);
    return Point{double(x), double(y)};
}

} // namespace

void PreviewWindow::handleDragBegin(Handle& handle, double, double)
{
    const auto pointer = pointerPosition(handle.gesture.get());
    if (!pointer || resizeEdges_)
        return;
    resizeEdges_ = handle.edges;
    resizeStartFrame_ = frame();
    resizeStartPointer_ = *pointer;
    // The pointer stays ours (and keeps the resize cursor) wherever it goes until the release.
    if (GdkWindow* window = gtk_widget_get_window(handle.area)) {
        GdkSeat* seat = gdk_device_get_seat(gtk_gesture_get_device(handle.gesture.get()));
        const auto cursor = GObjectRef<GdkCursor>::adopt(
            gdk_cursor_new_from_name(gtk_widget_get_display(handle.area), cursorName(handle.edges)));
        if (seat && gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_ALL_POINTING, FALSE, cursor.get(), nullptr,
                                  nullptr, nullptr) == GDK_GRAB_SUCCESS)
            handle.grabbedSeat = seat;
    }
    if (resizeHandler_.willStart)
        resizeHandler_.willStart();
}

void PreviewWindow::handleDragUpdate(Handle& handle)
{
    if (resizeEdges_ != handle.edges)
        return;
    const auto pointer = pointerPosition(handle.gesture.get());
    if (!pointer)
        return;
    const double dx = pointer->x - resizeStartPointer_.x;
    const double dy = pointer->y - resizeStartPointer_.y;
    const Rect next = resizeHandler_.frameForDrag ? resizeHandler_.frameForDrag(resizeStartFrame_, resizeEdges_, dx, dy)
                                                  : draggedFrame(resizeStartFrame_, resizeEdges_, dx, dy);
    setFrame(next);
}

void PreviewWindow::handleDragEnd(Handle& handle)
{
    if (handle.grabbedSeat) {
        gdk_seat_ungrab(handle.grabbedSeat);
        handle.grabbedSeat = nullptr;
    }
    if (resizeEdges_ != handle.edges)
        return;
    resizeEdges_ = 0;
    if (resizeHandler_.didEnd)
        resizeHandler_.didEnd();
}

Rect PreviewWindow::draggedFrame(const Rect& start, unsigned edges, double dx, double dy)
{
    Rect frame = start;
    if (edges & right)
        frame.size.width = start.size.width + dx;
    if (edges & left) {
        frame.size.width = start.size.width - dx;
        frame.origin.x = start.origin.x + dx;
    }
    if (edges & bottom)
        frame.size.height = start.size.height + dy;
    if (edges & top) {
        frame.size.height = start.size.height - dy;
        frame.origin.y = start.origin.y + dy;
    }
    frame.size.width = std::max(1.0, frame.size.width);
    frame.size.height = std::max(1.0, frame.size.height);
    return frame;
}

Rect PreviewWindow::frameOfWindow(GtkWindow* window)
{
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(window, &x, &y);
    gtk_window_get_size(window, &width, &height);
    double bar = 0;
    // The size leaves out client-side decorations, the title bar among them.
    if (GtkWidget* titleBar = gtk_window_get_titlebar(window); titleBar && gtk_widget_get_visible(titleBar)) {
        bar = gtk_widget_get_allocated_height(titleBar);
        if (bar <= 1) {
            int natural = 0;
            gtk_widget_get_preferred_height(titleBar, nullptr, &natural);
            bar = natural;
        }
    }
    return {{double(x), double(y)}, {double(width), double(height) + bar}};
}

std::optional<Rect> PreviewWindow::workAreaOfWindow(GtkWindow* window)
{
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    GdkMonitor* monitor = nullptr;
    if (GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window)))
        monitor = gdk_display_get_monitor_at_window(display, gdkWindow);
    if (!monitor) {
        const Rect frame = frameOfWindow(window);
        monitor = gdk_display_get_monitor_at_point(display, whole(frame.origin.x + frame.size.width / 2),
                                                   whole(frame.origin.y + frame.size.height / 2));
    }
    if (!monitor)
        return std::nullopt;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return Rect{{double(area.x), double(area.y)}, {double(area.width), double(area.height)}};
}

Rect PreviewWindow::frame() const
{
    return frameOfWindow(gtkWindow());
}

std::optional<Rect> PreviewWindow::workArea() const
{
    const auto area = workAreaOfWindow(gtkWindow());
    return area ? std::optional(insideBorders(*area)) : std::nullopt;
}

std::vector<Rect> PreviewWindow::workAreas() const
{
    std::vector<Rect> areas;
    GdkDisplay* display = gtk_widget_get_display(widget());
    const int count = display ? gdk_display_get_n_monitors(display) : 0;
    for (int i = 0; i < count; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        if (!monitor)
            continue;
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        areas.push_back(insideBorders({{double(area.x), double(area.y)}, {double(area.width), double(area.height)}}));
    }
    return areas;
}

Size PreviewWindow::minimumSize() const
{
    int width = 0, height = 0;
    gtk_widget_get_preferred_width(titleBar_, &width, nullptr);
    gtk_widget_get_preferred_height(previewView_, &height, nullptr);
    return {double(width), titleBarHeight() + std::max(1, height)};
}

double PreviewWindow::titleBarHeight() const
{
    double height = gtk_widget_get_allocated_height(titleBar_);
    if (height <= 1) {
        int natural = 0;
        gtk_widget_get_preferred_height(titleBar_, nullptr, &natural);
        height = natural;
    }
    return height;
}

void PreviewWindow::setFrame(const Rect& frame)
{
    const int width = std::max(1, whole(frame.size.width));
    const int height = std::max(1, whole(frame.size.height - titleBarHeight()));
    gtk_widget_set_size_request(contentOverlay_, width, height);
    // Before the first showing the default size wins over any resize: both are set.
    gtk_window_set_default_size(gtkWindow(), width, height);
    gtk_window_resize(gtkWindow(), width, height);
    move({double(whole(frame.origin.x)), double(whole(frame.origin.y))});
}

void PreviewWindow::setKeepAbove(bool above)
{
    keepsAbove_ = above;
    gtk_window_set_keep_above(gtkWindow(), above);
}

void PreviewWindow::windowWillClose()
{
    if (willClose)
        willClose();
}

} // namespace kx
