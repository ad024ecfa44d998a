#include "Platform/UI/Window.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/NativeMenuGtk.h"
// Last: Xlib's macros would break the headers above.
#include <gdk/gdkx.h>

namespace kx {

namespace {

GtkCssProvider* tallTitleBarStyle()
{
    static GtkCssProvider* provider = [] {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css,
                                        "headerbar.kx-tall-titlebar { min-height: 37px; padding-top: 0; "
                                        "padding-bottom: 0; margin-top: 0; margin-bottom: 0; }",
                                        -1, nullptr);
        return css;
    }();
    return provider;
}

// Closes the menus of the window's bar and destroys the window, once no menu is opening.
void destroyWhenNoMenuOpens(GObjectRef<GtkWidget> window)
{
    NativeMenuGtk::afterOpening([window = std::move(window)] {
        if (WindowMenuBar* bar = WindowMenuBar::forWindow(GTK_WINDOW(window.get())))
            gtk_menu_shell_deactivate(GTK_MENU_SHELL(bar->menuBar()));
        gtk_widget_destroy(window.get());
    });
}

} // namespace

Window::Window(Size contentSize)
    : window_(GObjectRef<GtkWidget>::retain(gtk_window_new(GTK_WINDOW_TOPLEVEL)))
    , root_(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0))
{
    gtk_window_set_default_size(gtkWindow(), int(std::lround(contentSize.width)),
                                int(std::lround(contentSize.height)));
    gtk_container_add(GTK_CONTAINER(window_.get()), root_);
    gtk_widget_show(root_);
    gtk_widget_add_events(window_.get(), GDK_BUTTON_PRESS_MASK);
    // While the content shakes, the box's children are drawn here, shifted, in place of the
    // box's own drawing (which draws nothing but them).
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
        root_, "draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
            if (contentShakeOffset_ == 0)
                return FALSE;
            cairo_translate(cr, double(std::lround(contentShakeOffset_)), 0);
            struct Drawing {
                GtkContainer* box;
                cairo_t* cr;
            } drawing{GTK_CONTAINER(root_), cr};
            gtk_container_foreach(
                GTK_CONTAINER(root_),
                [](GtkWidget* child, gpointer data) {
                    auto* drawing = static_cast<Drawing*>(data);
                    gtk_container_propagate_draw(drawing->box, child, drawing->cr);
                },
                &drawing);
            return TRUE;
        }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        window_.get(), "button-press-event",
        [this](GtkWidget*, GdkEventButton* event) -> gboolean { return backgroundPressed(*event); }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        window_.get(), "delete-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            performClose();
            return TRUE; // this object decides what closing means
        }));
}

Window::~Window()
{
    stopShaking();
    connections_.clear();
    destroyWhenNoMenuOpens(std::move(window_));
}

void Window::setTitle(const std::string& title)
{
    gtk_window_set_title(gtkWindow(), title.c_str());
    if (titleBar_)
        gtk_header_bar_set_title(titleBar_, title.c_str());
}

void Window::setContentView(GtkWidget* view)
{
    if (content_)
        gtk_container_remove(GTK_CONTAINER(root_), content_);
    content_ = view;
    if (!view)
        return;
    gtk_box_pack_end(GTK_BOX(root_), view, TRUE, TRUE, 0);
    gtk_widget_show(view);
}

WindowMenuBar& Window::setMenu(std::shared_ptr<NativeMenu> menu)
{
    const bool isNew = !menuBar();
    WindowMenuBar& bar = WindowMenuBar::install(gtkWindow(), std::move(menu));
    if (isNew)
        packMenuBar();
    return bar;
}

WindowMenuBar* Window::menuBar() const
{
    return WindowMenuBar::forWindow(gtkWindow());
}

void Window::packMenuBar()
{
    WindowMenuBar* bar = menuBar();
    if (!bar)
        return;
    if (!gtk_widget_get_parent(bar->menuBar()))
        gtk_box_pack_start(GTK_BOX(root_), bar->menuBar(), FALSE, FALSE, 0);
    // Owners may show the window with gtk_widget_show_all; a hidden bar stays hidden.
    gtk_widget_set_no_show_all(bar->menuBar(), TRUE);
    gtk_widget_set_visible(bar->menuBar(), menuBarVisible_);
}

void Window::setMenuBarVisible(bool visible)
{
    menuBarVisible_ = visible;
    packMenuBar();
}

void Window::popUpMenu(GtkWidget* button)
{
    WindowMenuBar* bar = menuBar();
    int x = 0, y = 0;
    if (!bar || !bar->realisation() || !button || !gtk_widget_translate_coordinates(button, widget(), 0, 0, &x, &y))
        return;
    // Below the button, from its left edge.
    const Rect below{{double(x), double(y + gtk_widget_get_allocated_height(button))},
                     {double(gtk_widget_get_allocated_width(button)), 1}};
    MenuPopup::popUp(bar->realisation()->menu(), button, below, [](std::shared_ptr<NativeMenuItem>) {}, true);
}

void Window::hideTitleBar()
{
    // An empty title-bar widget: GTK keeps its client-side frame but has nothing to show.
    GtkWidget* empty = gtk_event_box_new();
    gtk_window_set_titlebar(gtkWindow(), empty);
    titleBar_ = nullptr;
}

GtkHeaderBar* Window::useTallTitleBar()
{
    if (titleBar_)
        return titleBar_;
    GtkWidget* bar = gtk_header_bar_new();
    titleBar_ = GTK_HEADER_BAR(bar);
    gtk_header_bar_set_show_close_button(titleBar_, TRUE);
    if (const char* title = gtk_window_get_title(gtkWindow()))
        gtk_header_bar_set_title(titleBar_, title);
    GtkStyleContext* style = gtk_widget_get_style_context(bar);
    gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(tallTitleBarStyle()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_style_context_add_class(style, tallTitleBarStyleClass);
    gtk_widget_show(bar);
    gtk_window_set_titlebar(gtkWindow(), bar);
    return titleBar_;
}

bool Window::backgroundPressed(const GdkEventButton& event)
{
    // Reached only by presses that no widget inside took.
    if (!movableByBackground_ || event.type != GDK_BUTTON_PRESS || event.button != GDK_BUTTON_PRIMARY)
        return false;
    performWindowDrag(window_.get(), event);
    return true;
}

void Window::performWindowDrag(GtkWidget* widget, const GdkEventButton& event)
{
    GtkWidget* toplevel = widget ? gtk_widget_get_toplevel(widget) : nullptr;
    if (!GTK_IS_WINDOW(toplevel) || !gtk_widget_get_realized(toplevel))
        return;
    gtk_window_begin_move_drag(GTK_WINDOW(toplevel), int(event.button), int(std::lround(event.x_root)),
                               int(std::lround(event.y_root)), event.time);
}

double Window::shakeOffset(double elapsed, double width)
{
    if (!(elapsed >= 0) || elapsed >= shakeDuration)
        return 0;
    // Two passes through the key frames −1 %, +1 %, −1 % of the width, evenly spaced.
    constexpr double pass = shakeDuration / 2;
    const double amplitude = width * 0.01;
    const double phase = std::fmod(elapsed, pass) / pass;
    return phase < 0.5 ? -amplitude + 4 * amplitude * phase : amplitude - 4 * amplitude * (phase - 0.5);
}

bool Window::isX11Display(GdkDisplay* display)
{
#ifdef GDK_WINDOWING_X11
    return display && GDK_IS_X11_DISPLAY(display);
#else
    (void)display;
    return false;
#endif
}

void Window::shake()
{
    if (!gtk_widget_get_mapped(window_.get()))
        return;
    // A shake during a shake starts over from the place the first one left.
    if (!shakeTick_) {
        shakeMovesWindow_ = isX11Display(gtk_widget_get_display(window_.get()));
        if (shakeMovesWindow_)
            gtk_window_get_position(gtkWindow(), &shakeHomeX_, &shakeHomeY_);
        shakeTick_ = gtk_widget_add_tick_callback(window_.get(), &Window::shakeStep, this, nullptr);
    }
    shakeStart_ = 0;
}

gboolean Window::shakeStep(GtkWidget*, GdkFrameClock* clock, gpointer data)
{
    auto* self = static_cast<Window*>(data);
    const gint64 now = gdk_frame_clock_get_frame_time(clock);
    if (!self->shakeStart_)
        self->shakeStart_ = now;
    const double elapsed = double(now - self->shakeStart_) / G_USEC_PER_SEC;
    if (elapsed >= shakeDuration) {
        self->shakeTick_ = 0;
        self->placeShaken(0);
        return G_SOURCE_REMOVE;
    }
    int width = 0;
    gtk_window_get_size(self->gtkWindow(), &width, nullptr);
    self->placeShaken(shakeOffset(elapsed, width));
    return G_SOURCE_CONTINUE;
}

void Window::placeShaken(double offset)
{
    if (shakeMovesWindow_) {
        gtk_window_move(gtkWindow(), shakeHomeX_ + int(std::lround(offset)), shakeHomeY_);
        return;
    }
    if (contentShakeOffset_ == offset)
        return;
    contentShakeOffset_ = offset;
    gtk_widget_queue_draw(window_.get());
}

void Window::stopShaking()
{
    if (!shakeTick_)
        return;
    gtk_widget_remove_tick_callback(window_.get(), shakeTick_);
    shakeTick_ = 0;
    placeShaken(0);
}

bool Window::isAnyWindowActive()
{
    GList* windows = gtk_window_list_toplevels();
    bool active = false;
    for (GList* item = windows; item && !active; item = item->next)
        active = gtk_window_is_active(GTK_WINDOW(item->data));
    g_list_free(windows);
    return active;
}

bool Window::isAnyWindowShown(GtkWindow* except)
{
    GList* windows = gtk_window_list_toplevels();
    bool shown = false;
    for (GList* item = windows; item && !shown; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        shown = window != except && gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL
            && !GTK_IS_OFFSCREEN_WINDOW(window) && gtk_widget_get_visible(GTK_WIDGET(window));
    }
    g_list_free(windows);
    return shown;
}

std::chrono::milliseconds Window::doubleClickInterval()
{
    gint milliseconds = 400; // GTK's own default, without settings
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_get(settings, "gtk-double-click-time", &milliseconds, nullptr);
    return std::chrono::milliseconds(milliseconds);
}

std::optional<Rect> Window::workArea() const
{
    GdkDisplay* display = gtk_widget_get_display(window_.get());
    GdkMonitor* monitor = nullptr;
    if (GdkWindow* window = gtk_widget_get_window(window_.get()))
        monitor = gdk_display_get_monitor_at_window(display, window);
    if (!monitor)
        monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return std::nullopt;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return Rect{{double(area.x), double(area.y)}, {double(area.width), double(area.height)}};
}

Window::Decorations Window::decorations(bool realise) const
{
    // Realising the window the first time gives it and its content their sizes.
    if (realise)
        gtk_widget_realize(window_.get());
    GtkWidget* bar = gtk_window_get_titlebar(gtkWindow());
    if (bar && !gtk_widget_get_visible(bar))
        bar = nullptr;
    GtkAllocation whole, content;
    gtk_widget_get_allocation(window_.get(), &whole);
    gtk_widget_get_allocation(root_, &content);
    if (gtk_widget_get_realized(window_.get()) && whole.width > 1 && content.width > 1) {
        Decorations measured;
        measured.left = content.x;
        measured.right = std::max(0, whole.width - content.x - content.width);
        measured.top = content.y;
        measured.bottom = std::max(0, whole.height - content.y - content.height);
        if (bar) {
            GtkAllocation title;
            gtk_widget_get_allocation(bar, &title);
            measured.top = std::clamp(title.y, 0, content.y);
            measured.titleBar = content.y - measured.top;
        }
        decorations_ = measured;
    }
    // GTK forgets the sizes while the window is hidden: they stay as last measured.
    if (decorations_)
        return *decorations_;
    // Not realised yet: what the window asks for beyond its content (which a size asked of the
    // window itself would spoil), the borders taken as alike on opposite sides.
    int windowWidth = 0, windowHeight = 0, contentWidth = 0, contentHeight = 0, titleWidth = 0, titleHeight = 0;
    gtk_widget_get_preferred_width(window_.get(), nullptr, &windowWidth);
    gtk_widget_get_preferred_height(window_.get(), nullptr, &windowHeight);
    gtk_widget_get_preferred_width(root_, nullptr, &contentWidth);
    gtk_widget_get_preferred_height(root_, nullptr, &contentHeight);
    if (bar) {
        gtk_widget_get_preferred_width(bar, nullptr, &titleWidth);
        gtk_widget_get_preferred_height(bar, nullptr, &titleHeight);
    }
    Decorations guessed;
    guessed.left = guessed.right = std::max(0, windowWidth - std::max(contentWidth, titleWidth)) / 2.0;
    guessed.top = guessed.bottom = std::max(0, windowHeight - contentHeight - titleHeight) / 2.0;
    guessed.titleBar = titleHeight;
    return guessed;
}

Size Window::contentSizeThatFits(Size wanted) const
{
    const auto area = workArea();
    if (!area)
        return wanted;
    const Size around = decorations().around();
    return {std::max(1.0, std::min(wanted.width, area->size.width - around.width)),
            std::max(1.0, std::min(wanted.height, area->size.height - around.height))};
}

Rect Window::insideBorders(const Rect& area) const
{
    // Before its first showing a window sized by resizing must not be realised yet: GTK would
    // keep the size it was realised at.
    const Decorations borders = decorations(false);
    return {{area.origin.x + borders.left, area.origin.y + borders.top},
            {std::max(0.0, area.size.width - borders.left - borders.right),
             std::max(0.0, area.size.height - borders.top - borders.bottom)}};
}

void Window::move(Point origin)
{
    moved_ = true;
    gtk_window_move(gtkWindow(), int(std::lround(origin.x)), int(std::lround(origin.y)));
}

double Window::textScale()
{
    // GTK sets the screen's resolution from Xft DPI (-1 when there is none: the usual 96).
    GdkScreen* screen = gdk_screen_get_default();
    const double resolution = screen ? gdk_screen_get_resolution(screen) : -1;
    return resolution > 0 ? resolution / 96 : 1;
}

void Window::fitWorkArea()
{
    const auto area = workArea();
    if (!area)
        return;
    const Decorations borders = decorations();
    const Size around = borders.around();
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(gtkWindow(), &x, &y);
    gtk_window_get_size(gtkWindow(), &width, &height);
    const Rect frame{{x - borders.left, y - borders.top}, {width + around.width, height + around.height}};
    const Rect fitted = constrainedToWorkArea(frame, *area);
    if (fitted.size != frame.size)
        gtk_window_resize(gtkWindow(), std::max(1, int(std::lround(fitted.size.width - around.width))),
                          std::max(1, int(std::lround(fitted.size.height - around.height))));
    // A window GTK or the window manager places is placed inside the work area by them.
    if (moved_ && fitted.origin != frame.origin)
        gtk_window_move(gtkWindow(), int(std::lround(fitted.origin.x + borders.left)),
                        int(std::lround(fitted.origin.y + borders.top)));
}

void Window::makeKeyAndOrderFront()
{
    pendingHide_ = PendingHide::none;
    if (!gtk_widget_get_visible(window_.get()))
        fitWorkArea();
    gtk_widget_show(window_.get());
    gtk_window_present(gtkWindow());
    // GTK hides the ring at every mapping until the next key.
    if (focusVisibleWhenHidden_)
        gtk_window_set_focus_visible(gtkWindow(), TRUE);
}

void Window::orderFront()
{
    pendingHide_ = PendingHide::none;
    if (!gtk_widget_get_visible(window_.get()))
        fitWorkArea();
    gtk_window_set_focus_on_map(gtkWindow(), FALSE);
    gtk_widget_show(window_.get());
    gtk_window_set_focus_on_map(gtkWindow(), TRUE);
    if (GdkWindow* gdkWindow = gtk_widget_get_window(window_.get()))
        gdk_window_raise(gdkWindow);
}

void Window::orderOut()
{
    hideWhenNoMenuOpens(PendingHide::orderOut);
}

bool Window::isVisible() const
{
    return gtk_widget_get_visible(window_.get());
}

void Window::performClose()
{
    if (gtk_window_get_deletable(gtkWindow()))
        close();
}

void Window::close()
{
    hideWhenNoMenuOpens(PendingHide::close);
}

void Window::hideWhenNoMenuOpens(PendingHide hide)
{
    // A close asked for after an order out still closes.
    pendingHide_ = std::max(pendingHide_, hide);
    NativeMenuGtk::afterOpening([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired() && pendingHide_ != PendingHide::none)
            hideNow();
    });
}

void Window::hideNow()
{
    const PendingHide hide = std::exchange(pendingHide_, PendingHide::none);
    if (hide == PendingHide::close)
        windowWillClose();
    stopShaking();
    focusVisibleWhenHidden_ = gtk_window_get_focus_visible(gtkWindow());
    if (WindowMenuBar* bar = menuBar())
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(bar->menuBar()));
    gtk_widget_hide(window_.get());
}

} // namespace kx
