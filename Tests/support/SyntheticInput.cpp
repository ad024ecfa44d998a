#include "support/SyntheticInput.h"

#include <gdk/gdk.h>
// Talks to the X server directly.
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace kxtest {

namespace {

Display* xDisplay()
{
    return GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
}

} // namespace

void warpPointer(int x, int y)
{
    XTestFakeMotionEvent(xDisplay(), -1, x, y, CurrentTime);
    XSync(xDisplay(), False);
}

void clickButton(unsigned button)
{
    XTestFakeButtonEvent(xDisplay(), button, True, CurrentTime);
    XTestFakeButtonEvent(xDisplay(), button, False, CurrentTime);
    XSync(xDisplay(), False);
}

void pressButton(unsigned button)
{
    XTestFakeButtonEvent(xDisplay(), button, True, CurrentTime);
    XSync(xDisplay(), False);
}

void releaseButton(unsigned button)
{
    XTestFakeButtonEvent(xDisplay(), button, False, CurrentTime);
    XSync(xDisplay(), False);
}

void typeKey(unsigned long keysym)
{
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
