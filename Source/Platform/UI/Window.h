// The base of our top-level windows: one GtkWindow owned by this object, with the window's
// menu bar (WindowMenuBar) above its content, the title bars our windows wear, moving the
// window by its background, the shake that rejects an entry, and closing and destruction that
// wait while a menu is opening.
//
// GTK opens a menu from inside its pop-up and goes on using the menu and its window after the
// opening (which validates the items and may wait up to a second for a page) returns, so a
// window must not be destroyed meanwhile: close() and the destructor defer their work until
// the opening has ended. Windows are therefore closed and destroyed through this object, never
// with gtk_widget_destroy. Main thread only.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Geometry.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/WindowMenuBar.h"

namespace kx {

class Window {
public:
    // A hidden top-level window whose content area has `contentSize` at first.
    explicit Window(Size contentSize);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    GtkWindow* gtkWindow() const { return GTK_WINDOW(window_.get()); }
    GtkWidget* widget() const { return window_.get(); }

    void setTitle(const std::string& title);

    // The widget that fills the window below the menu bar; it is shown here, its children are
    // shown by whoever adds them.
    void setContentView(GtkWidget* view);
    GtkWidget* contentView() const { return content_; }

    // Realises `menu` as the window's menu bar, above the content. Its key routing works
    // whether or not the bar is visible. A second call keeps the first bar.
    WindowMenuBar& setMenu(std::shared_ptr<NativeMenu> menu);
    WindowMenuBar* menuBar() const;
    void setMenuBarVisible(bool visible);
    // For a window that shows no menu bar: its menu (the hidden bar's) popped up below
    // `button`, which stands for the bar in the window's title area as GNOME applications
    // carry their menu there. The items show the keys that the bar fires. Nothing without a
    // menu.
    void popUpMenu(GtkWidget* button);

    // No title bar at all: GTK draws no title and no buttons, and the window keeps the frame
    // and shadow of its client-side decoration.
    void hideTitleBar();
    // A header bar at least `tallTitleBarHeight` high, window buttons centred vertically in it;
    // its style class follows whoever styles it (the document window's night gradient).
    GtkHeaderBar* useTallTitleBar();
    GtkHeaderBar* titleBar() const { return titleBar_; }
    static constexpr double tallTitleBarHeight = 37.0;
    static constexpr const char* tallTitleBarStyleClass = "kx-tall-titlebar";

    // Pressing the primary button on the background (where no widget takes the press) moves
    // the window.
    void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
    bool isMovableByWindowBackground() const { return movableByBackground_; }
    // Lets the window manager move the top-level window of `widget` with the pointer, from the
    // press `event`. Nothing when the widget is in no window.
    static void performWindowDrag(GtkWidget* widget, const GdkEventButton& event);

    // Shakes the window horizontally by 1 % of its width, twice in `shakeDuration`, and puts it
    // back where it was. Where a client cannot place its windows (Wayland) the window stays and
    // its content shakes inside it by the same offsets.
    void shake();
    bool isShaking() const { return shakeTick_ != 0; }
    // How far the content is drawn from its place now: 0 but while the content shakes.
    double contentShakeOffset() const { return contentShakeOffset_; }
    static constexpr double shakeDuration = 0.2;
    // The horizontal offset `elapsed` seconds into a shake of a window `width` wide: from −1 %
    // of the width to +1 % and back in each tenth of a second, then 0.
    static double shakeOffset(double elapsed, double width);

    // Whether `display` is an X11 display, where a client places its windows, grabs the
    // pointer for itself and owns selections by name; under Wayland the compositor does the
    // first two, and only the clipboard and the primary selection exist.
    static bool isX11Display(GdkDisplay* display);

    // The desktop's double-click interval.
    static std::chrono::milliseconds doubleClickInterval();

    // Whether one of the process's windows has the keyboard focus.
    static bool isAnyWindowActive();
    // Whether a top-level window of the process other than `except` is shown (popups and
    // offscreen windows do not count).
    static bool isAnyWindowShown(GtkWindow* except = nullptr);

    // ---- The screen ----
    // A window opens whole inside the work area of its monitor (the monitor less the
    // desktop's panels): each time it is shown from hidden, a frame (title bar and borders
    // included) larger than the work area shrinks to it, as far as the window's content
    // allows, and a window placed with move() is moved into it. A window whose content has a
    // fixed size sizes it with contentSizeThatFits first.
    //
    // The work area of the monitor the window is on, or, before it has a place, of the
    // primary monitor (else the first); points from the top left of the screen. None without
    // monitors.
    std::optional<Rect> workArea() const;
    // The content size a window that wants `wanted` opens at: `wanted` where its frame fits
    // the work area, else as much as fits there.
    Size contentSizeThatFits(Size wanted) const;
    // `area` less the borders that the window draws outside its title bar and content: where a
    // frame of the window measured without them (its position and its size with the title
    // bar, as GTK tells them) lies whole when the window does.
    Rect insideBorders(const Rect& area) const;
    // Puts the window at `origin` (its position as gtk_window_get_position tells it). A window
    // never moved opens where GTK or the window manager puts it.
    void move(Point origin);
    // The desktop's text scaling: 1 at the usual 96 dots per inch, 1.5 at 144 (Xft DPI). Text
    // grows by it and WebKit zooms its pages by it: a layout in points grows with them.
    static double textScale();

    // Shows the window and gives it the focus. A window closed while its focus ring showed (the
    // keyboard was in use) shows it again at once, where the keys are now.
    virtual void makeKeyAndOrderFront();
    // Shows the window in front of the others without taking the focus.
    void orderFront();
    // Hides the window without closing it (after a menu's opening, as closing does).
    void orderOut();
    // Closes the window: `windowWillClose`, then it hides, its menus closed. It stays for its
    // owner to show again or destroy.
    void close();
    bool isVisible() const;

protected:
    // The window manager's close button or key: closes a window that may be closed.
    virtual void performClose();
    virtual void windowWillClose() { }

private:
    enum class PendingHide { none, orderOut, close };
    // What the window draws around its title bar and content (borders, shadows), in points,
    // once it has a size. GTK counts a window's position from inside them.
    struct Decorations {
        double left = 0, top = 0, right = 0, bottom = 0;
        double titleBar = 0;
        Size around() const { return {left + right, top + titleBar + bottom}; }
    };
    Decorations decorations(bool realise = true) const;
    void fitWorkArea();
    mutable std::optional<Decorations> decorations_;
    void hideWhenNoMenuOpens(PendingHide hide);
    void hideNow();
    void packMenuBar();
    bool backgroundPressed(const GdkEventButton& event);
    static gboolean shakeStep(GtkWidget* widget, GdkFrameClock* clock, gpointer self);
    // The window, or its content, `offset` to the right of where it rests.
    void placeShaken(double offset);
    void stopShaking();

    GObjectRef<GtkWidget> window_;
    GtkWidget* root_;
    GtkWidget* content_ = nullptr;
    GtkHeaderBar* titleBar_ = nullptr;
    bool menuBarVisible_ = true;
    bool movableByBackground_ = false;
    bool moved_ = false;
    bool focusVisibleWhenHidden_ = false;
    PendingHide pendingHide_ = PendingHide::none;
    guint shakeTick_ = 0;
    gint64 shakeStart_ = 0;
    int shakeHomeX_ = 0;
    int shakeHomeY_ = 0;
    bool shakeMovesWindow_ = false;
    double contentShakeOffset_ = 0;
    std::vector<SignalConnection> connections_;
    // Deferred work checks it to see whether this object still exists.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
