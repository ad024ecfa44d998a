#include "support/SyntheticInput.h"

#include <gdk/gdk.h>

#include <algorithm>

// Talks to the X server directly.
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace kxtest {

namespace {

// The X display, or none (a failure of the test that asked) where there is no X server.
Display* xDisplay()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) {
        ADD_FAILURE() << "synthetic input needs an X11 display: start the test with KX_REQUIRE_SYNTHETIC_INPUT()";
        return nullptr;
    }
    return GDK_DISPLAY_XDISPLAY(display);
}

} // namespace

bool hasSyntheticInput()
{
    GdkDisplay* display = gdk_display_get_default();
    int event = 0, error = 0, major = 0, minor = 0;
    return display && GDK_IS_X11_DISPLAY(display)
           && XTestQueryExtension(GDK_DISPLAY_XDISPLAY(display), &event, &error, &major, &minor);
}

void warpPointer(int x, int y)
{
    if (!xDisplay())
        return;
    // GDK's coordinates are points; XTest's are root pixels, the points times the scale (one
    // for the whole X screen).
    const int scale = std::max(1, gdk_window_get_scale_factor(gdk_get_default_root_window()));
    XTestFakeMotionEvent(xDisplay(), -1, x * scale, y * scale, CurrentTime);
    XSync(xDisplay(), False);
}

void clickButton(unsigned button)
{
    if (!xDisplay())
        return;
    XTestFakeButtonEvent(xDisplay(), button, True, CurrentTime);
    XTestFakeButtonEvent(xDisplay(), button, False, CurrentTime);
    XSync(xDisplay(), False);
}

void pressButton(unsigned button)
{
    if (!xDisplay())
        return;
    XTestFakeButtonEvent(xDisplay(), button, True, CurrentTime);
    XSync(xDisplay(), False);
}

void releaseButton(unsigned button)
{
    if (!xDisplay())
        return;
    XTestFakeButtonEvent(xDisplay(), button, False, CurrentTime);
    XSync(xDisplay(), False);
}

void typeKey(unsigned long keysym)
{
    if (!xDisplay())
        return;
    const KeyCode code = XKeysymToKeycode(xDisplay(), KeySym(keysym));
    XTestFakeKeyEvent(xDisplay(), code, True, CurrentTime);
    XTestFakeKeyEvent(xDisplay(), code, False, CurrentTime);
    XSync(xDisplay(), False);
}

void pressEscape()
{
    typeKey(XK_Escape);
}

} // namespace kxtest
