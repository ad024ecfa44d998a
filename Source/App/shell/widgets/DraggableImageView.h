// An image view whose presses move its window. The image is centred, scaled down to fit when
// it is larger than the view.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "App/shell/widgets/View.h"
#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class DraggableImageView : public View {
public:
    DraggableImageView();

    GdkPixbuf* image() const { return image_.get(); }
    void setImage(GdkPixbuf* image);

    // Where the image is drawn in bounds of `boundsSize`: its own size, or scaled down to fit
    // keeping its proportions, centred.
    static Rect imageRect(const Size& boundsSize, const Size& imageSize);

private:
    void draw(cairo_t* cr);

    GObjectRef<GdkPixbuf> image_;
};

} // namespace kx
