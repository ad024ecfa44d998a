#include "App/web/RKColorSamplerWindow.h"

#include <cmath>
#include <utility>

#include "App/shell/RKLog.h"
#include "App/web/RKColorSamplerGeometry.h"
#include "App/web/RKColorSamplerWindowDelegate.h"

namespace kx {

namespace {

namespace geometry = RKColorSamplerGeometry;

constexpr const char* hexLabelStyleClass = "kx-color-sampler-hex";

GtkCssProvider* hexLabelStyle()
{
    static GtkCssProvider* provider = [] {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(
            css, ".kx-color-sampler-hex { background-color: rgba(0, 0, 0, 0.6); border-radius: 2px; padding: 0; }",
            -1, nullptr);
        return css;
    }();
    return provider;
}

// Without a compositor the window cannot be transparent; the X shape extension cuts it round.
cairo_region_t* circleRegion(int side)
{
    cairo_region_t* region = cairo_region_create();
    const double radius = side * 0.5;
    for (int row = 0; row < side; ++row) {
        const double dy = row + 0.5 - radius;
        const double half = std::sqrt(std::max(0.0, radius * radius - dy * dy));
        const int left = int(std::lround(radius - half));
        const int right = int(std::lround(radius + half));
        if (right > left) {
            const cairo_rectangle_int_t span{left, row, right - left, 1};
            cairo_region_union_rectangle(region, &span);
        }
    }
    return region;
}

GdkSeat* seatOf(GtkWidget* widget)
{
    return gdk_display_get_default_seat(gtk_widget_get_display(widget));
}

} // namespace

RKColorSamplerWindow::RKColorSamplerWindow(const Rect& contentRect)
    : window_(gtk_window_new(GTK_WINDOW_POPUP))
    , hexLabel_(gtk_label_new(nullptr))
    , frame_(contentRect)
{
    const int width = int(contentRect.size.width);
    const int height = int(contentRect.size.height);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_POPUP_MENU);
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);
    gtk_window_set_default_size(window, width, height);
    gtk_widget_set_size_request(window_, width, height);
    gtk_widget_set_app_paintable(window_, TRUE);
    GdkScreen* screen = gtk_widget_get_screen(window_);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(screen); rgba && gdk_screen_is_composited(screen)) {
        gtk_widget_set_visual(window_, rgba);
    } else {
        cairo_region_t* circle = circleRegion(width);
        gtk_widget_shape_combine_region(window_, circle);
        cairo_region_destroy(circle);
    }

    GtkWidget* overlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(overlay), view_.widget());
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), hexLabel_);
    connections_.emplace_back(overlay, "get-child-position", G_CALLBACK(placeHexLabel), nullptr);
    gtk_container_add(GTK_CONTAINER(window_), overlay);

    gtk_label_set_justify(GTK_LABEL(hexLabel_), GTK_JUSTIFY_CENTER);
    gtk_label_set_xalign(GTK_LABEL(hexLabel_), 0.5);
    gtk_label_set_yalign(GTK_LABEL(hexLabel_), 0.5);
    GtkStyleContext* style = gtk_widget_get_style_context(hexLabel_);
    gtk_style_context_add_class(style, hexLabelStyleClass);
    gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(hexLabelStyle()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_label_set_markup(GTK_LABEL(hexLabel_), hex("#FFAA00").c_str());
    gtk_widget_show_all(overlay);

    gtk_widget_add_events(window_, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
    connections_.emplace_back(window_, "motion-notify-event", G_CALLBACK(onMotion), this);
    connections_.emplace_back(window_, "button-press-event", G_CALLBACK(onButtonPress), this);
    connections_.emplace_back(window_, "key-press-event", G_CALLBACK(onKeyPress), this);
    connections_.emplace_back(window_, "grab-broken-event", G_CALLBACK(onGrabBroken), this);
}

gboolean RKColorSamplerWindow::placeHexLabel(GtkOverlay* overlay, GtkWidget*, GdkRectangle* allocation, gpointer)
{
    const Size bounds{double(gtk_widget_get_allocated_width(GTK_WIDGET(overlay))),
                      double(gtk_widget_get_allocated_height(GTK_WIDGET(overlay)))};
    const Rect frame = geometry::flipped(geometry::hexLabelFrame(bounds), bounds.height);
    *allocation = {int(frame.origin.x), int(frame.origin.y), int(frame.size.width), int(frame.size.height)};
    return TRUE;
}

gboolean RKColorSamplerWindow::onMotion(GtkWidget*, GdkEventMotion*, gpointer self)
{
    auto* loupe = static_cast<RKColorSamplerWindow*>(self);
    if (loupe->acceptsMouseMovedEvents_)
        loupe->mouseMoved();
    return TRUE;
}

gboolean RKColorSamplerWindow::onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self)
{
    if (event->type == GDK_BUTTON_PRESS && event->button == GDK_BUTTON_PRIMARY)
        static_cast<RKColorSamplerWindow*>(self)->mouseDown(geometry::flipped(Point{event->x_root, event->y_root}, screenHeight()));
    return TRUE;
}

gboolean RKColorSamplerWindow::onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self)
{
    if (event->keyval == GDK_KEY_Escape)
        static_cast<RKColorSamplerWindow*>(self)->cancelOperation();
    return TRUE;
}

// Someone else took the pointer or keyboard: as good as another window becoming key.
gboolean RKColorSamplerWindow::onGrabBroken(GtkWidget*, GdkEventGrabBroken*, gpointer self)
{
    static_cast<RKColorSamplerWindow*>(self)->close(false);
    return FALSE;
}

RKColorSamplerWindow::~RKColorSamplerWindow()
{
    connections_.clear();
    if (isKey_)
        gdk_seat_ungrab(seatOf(window_));
    gtk_widget_destroy(window_);
}

bool RKColorSamplerWindow::isVisible() const
{
    return gtk_widget_get_visible(window_);
}

double RKColorSamplerWindow::screenHeight()
{
    return gdk_window_get_height(gdk_get_default_root_window());
}

void RKColorSamplerWindow::makeKeyAndOrderFront()
{
    if (isKey_) {
        setLocation();
        return;
    }
    // Taken while the loupe is off the screen, so that the loupe never reads itself.
    screen_ = ScreenSnapshot::ofScreen();
    if (!screen_)
        return resignKey();
    setLocation();
    gtk_widget_realize(window_);
    const GdkGrabStatus status = gdk_seat_grab(
        seatOf(window_), gtk_widget_get_window(window_), GDK_SEAT_CAPABILITY_ALL, FALSE, nullptr, nullptr,
        +[](GdkSeat*, GdkWindow*, gpointer widget) { gtk_widget_show(static_cast<GtkWidget*>(widget)); }, window_);
    if (status != GDK_GRAB_SUCCESS) {
        RKLog("Colour sampler: no pointer and keyboard grab (status " + std::to_string(int(status)) + ")", RKLogKind::general);
        gtk_widget_hide(window_);
        screen_.reset();
        return resignKey();
    }
    isKey_ = true;
}

void RKColorSamplerWindow::orderOut()
{
    if (isKey_)
        close(true);
    else
        gtk_widget_hide(window_);
}

void RKColorSamplerWindow::close(bool ungrab)
{
    if (!std::exchange(isKey_, false))
        return;
    if (ungrab)
        gdk_seat_ungrab(seatOf(window_));
    gtk_widget_hide(window_);
    screen_.reset();
    resignKey();
}

void RKColorSamplerWindow::resignKey()
{
    if (delegate_)
        delegate_->windowDidResignKey(*this);
}

void RKColorSamplerWindow::setLocation()
{
    if (!screen_)
        return;
    GdkDevice* pointer = gdk_seat_get_pointer(seatOf(window_));
    if (!pointer)
        return;
    double x = 0;
    double y = 0;
    gdk_device_get_position_double(pointer, nullptr, &x, &y);
    const double height = screenHeight();
    const Point mouse = geometry::flipped(Point{x, y}, height);

    PixbufPtr capture = screen_->copyRect(geometry::captureRect(mouse, height));
    if (!capture)
        return;
    imageRef_ = std::move(capture);

    frame_.origin = geometry::windowOrigin(mouse, frame_.size);
    const Rect onScreen = geometry::flipped(frame_, height);
    gtk_window_move(GTK_WINDOW(window_), int(onScreen.origin.x), int(onScreen.origin.y));
    // GTK moves a hidden window only once it is mapped again, and the loupe would show for a
    // moment where the last pick ended.
    if (GdkWindow* window = gtk_widget_get_window(window_))
        gdk_window_move(window, int(onScreen.origin.x), int(onScreen.origin.y));

    view_.setImageRef(imageRef_.get());
    gtk_widget_queue_draw(view_.widget());
    if (const auto color = getColor())
        gtk_label_set_markup(GTK_LABEL(hexLabel_), hex(color->hexColorString()).c_str());
}

std::optional<Color> RKColorSamplerWindow::getColor() const
{
    return ScreenSnapshot::colorAtSampledPixel(imageRef_.get());
}

std::string RKColorSamplerWindow::hex(const std::string& value)
{
    char* escaped = g_markup_escape_text(value.c_str(), gssize(value.size()));
    // 11 points (logical pixels) in the desktop's own font, white, on lines exactly 16 high.
    std::string markup = std::string("<span font_desc=\"11px\" foreground=\"#FFFFFF\" line_height=\"16384\">") + escaped
        + "</span>";
    g_free(escaped);
    return markup;
}

std::string RKColorSamplerWindow::hexLabelText() const
{
    return gtk_label_get_text(GTK_LABEL(hexLabel_));
}

void RKColorSamplerWindow::mouseMoved()
{
    setLocation();
}

void RKColorSamplerWindow::mouseDown(Point location)
{
    if (!geometry::contains(frame_, location))
        return;
    if (delegate_)
        delegate_->window(*this, location, getColor());
    orderOut();
}

void RKColorSamplerWindow::cancelOperation()
{
    orderOut();
}

} // namespace kx
