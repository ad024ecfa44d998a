// Input as a person gives it, through the X server (XTest): it goes where the server sends
// real input, grabs included. Window tests only.
//
// A Wayland compositor takes input from its own devices only: a test that gives input this way
// starts with KX_REQUIRE_SYNTHETIC_INPUT(), which skips it there with the reason.
#pragma once

#include <gtest/gtest.h>

#define KX_REQUIRE_SYNTHETIC_INPUT()                                                                           \
    do {                                                                                                       \
        if (!kxtest::hasSyntheticInput())                                                                      \
            GTEST_SKIP() << "gives input through the X server's test extension; a Wayland compositor takes " \
                            "no input from its clients";                                                       \
    } while (false)

namespace kxtest {

// Whether the display takes synthetic input (an X11 display with XTest).
bool hasSyntheticInput();

// Moves the pointer to a point of the screen in GDK's root coordinates, the points that
// gdk_window_get_origin and gdk_device_get_position give at any scale; the X server gets them
// in its pixels.
void warpPointer(int x, int y);
// Presses and releases a mouse button where the pointer is.
void clickButton(unsigned button = 1);
// Presses, or releases, a mouse button where the pointer is (drags in between).
void pressButton(unsigned button = 1);
void releaseButton(unsigned button = 1);
// Presses and releases the key of `keysym` (an X keysym, as GDK_KEY_Return).
void typeKey(unsigned long keysym);
// Presses and releases the Escape key.
void pressEscape();

} // namespace kxtest
