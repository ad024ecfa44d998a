// What the keyboard and a screen reader need of a widget that draws itself: a role and a name
// in its accessible object, and a focus ring that shows where the keyboard is while it is used
// (GTK shows focus only after keyboard input, not after a click). Main thread only.
#pragma once

#include <string>

#include <atk/atk.h>
#include <gtk/gtk.h>

#include "App/shell/Color.h"
#include "Platform/UI/Geometry.h"

namespace kx::Accessibility {

// What a screen reader announces for `widget`: its kind and its name.
void setRole(GtkWidget* widget, AtkRole role);
void setName(GtkWidget* widget, const std::string& name);

// A drawing area for a button that draws itself: besides its role and name, its accessible
// object offers the action "click" (AtkAction), as GTK's own buttons do. The action, taken
// on the main loop's next turn, emits the widget's "activate" signal (what gtk_widget_activate
// does); the button connects its click there. A widget that is insensitive or hidden refuses it.
GtkWidget* newButtonArea();

// Whether `event` is a key that presses a focused button: Space, Return or Enter, without
// Control, Alt or Super.
bool activatesButton(const GdkEventKey& event);

// The ring's colour: one blue that reads on the light and on the dark backgrounds alike.
Color focusRingColor();

// Draws the focus ring inside the bounds of `widget` when it has the visible focus.
// `cornerRadius` follows the widget's own shape; `inset` keeps it off the edges of a widget
// larger than what it shows. On a background of the ring's own blue (a selection) pass white.
void drawFocusRing(GtkWidget* widget, cairo_t* cr, double cornerRadius = 4.0, double inset = 0.0,
                   const Color& color = focusRingColor());
// The same around `rect` (the widget's points): for a widget whose allocation reaches beyond
// what shows of it, such as a button of a title bar.
void drawFocusRing(GtkWidget* widget, cairo_t* cr, const Rect& rect, double cornerRadius = 4.0,
                   const Color& color = focusRingColor());

} // namespace kx::Accessibility
