// The loupe's content: the captured square magnified without smoothing into a circle, with
// its rings and the square around the sampled pixel.
#pragma once

#include <gtk/gtk.h>

#include "App/web/ScreenSnapshot.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class RKColorSamplerView {
public:
    RKColorSamplerView();
    ~RKColorSamplerView();
    RKColorSamplerView(const RKColorSamplerView&) = delete;
    RKColorSamplerView& operator=(const RKColorSamplerView&) = delete;

    GtkWidget* widget() const { return widget_.get(); }

    // Keeps its own copy of `image`; the image it already holds changes nothing.
    void setImageRef(const GdkPixbuf* image);
    const GdkPixbuf* imageRef() const { return imageRef_.get(); }

    // Draws into `cr` over `bounds` (origin top left, the widget's own coordinates).
    void draw(cairo_t* cr, Size bounds) const;

private:
    GObjectRef<GtkWidget> widget_;
    PixbufPtr imageRef_;
    SignalConnection drawing_;
};

} // namespace kx
