// A widget of ours: the GTK widget it draws in or holds, and the signal handlers that call back
// into it. The object owns its widget: destroying the object takes the widget out of its parent
// and destroys it, after every handler has been disconnected, so that no handler reaches a
// half-destroyed object. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class View {
public:
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    GtkWidget* widget() const { return widget_.get(); }

    // Where content of `contentSize` lies when centred in bounds of `boundsSize`, rounded down
    // to whole points so that images stay sharp.
    static Point centredOrigin(const Size& boundsSize, const Size& contentSize);
    // Fills the shape of `image` (its coverage) placed at `origin` with `color`; the image is
    // drawn at its size in points (see NamedImages::surfaceNamed).
    static void fillImageShape(cairo_t* cr, cairo_surface_t* image, const Point& origin, double red, double green,
                               double blue, double alpha);
    // Adds a rectangle with corners of `radius` (kept within half the shorter side) to the path.
    static void addRoundedRectangle(cairo_t* cr, const Rect& rect, double radius);

    // Puts the widget into `parent` at `frame` (top-left origin, in the parent's points).
    void placeIn(GtkFixed* parent, const Rect& frame);
    // The widget's size as laid out, or as requested before that.
    Size boundsSize() const;

protected:
    // Takes the newly made `widget` (floating or not).
    explicit View(GtkWidget* widget);

    template <class Signature, class Callable>
    void connect(const char* signal, Callable&& callable, GConnectFlags flags = GConnectFlags(0))
    {
        connect<Signature>(widget_.get(), signal, std::forward<Callable>(callable), flags);
    }
    template <class Signature, class Callable>
    void connect(gpointer instance, const char* signal, Callable&& callable, GConnectFlags flags = GConnectFlags(0))
    {
        connections_.push_back(
            SignalConnection::connect<Signature>(instance, signal, std::forward<Callable>(callable), flags));
    }

    // `work` made safe to keep beyond this object: it does nothing once the object is gone.
    // For callbacks that are never removed, such as the appearance's handlers.
    std::function<void()> whileAlive(std::function<void()> work) const
    {
        return [alive = std::weak_ptr<int>(alive_), work = std::move(work)] {
            if (!alive.expired())
                work();
        };
    }

private:
    GObjectRef<GtkWidget> widget_;
    std::vector<SignalConnection> connections_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
