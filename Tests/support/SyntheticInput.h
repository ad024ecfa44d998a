// Input as a person gives it, through the X server (XTest): it goes where the server sends
// real input, grabs included. Window tests only.
#pragma once

namespace kxtest {

// Moves the pointer to root-window coordinates.
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
