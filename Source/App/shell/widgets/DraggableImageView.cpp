#include "App/shell/widgets/DraggableImageView.h"

#include <algorithm>

#include <gdk/gdk.h>

#include "Platform/UI/Window.h"

namespace kx {

DraggableImageView::DraggableImageView()
    : View(gtk_drawing_area_new())
{
    gtk_widget_add_events(widget(), GDK_BUTTON_PRESS_MASK);
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
    connect<gboolean(GtkWidget*, GdkEventButton*)>("button-press-event",
                                                   [](GtkWidget* widget, GdkEventButton* event) -> gboolean {
                                                       if (event->button != GDK_BUTTON_PRIMARY || event->type != GDK_BUTTON_PRESS)
                                                           return FALSE;
                                                       Window::performWindowDrag(widget, *event);
                                                       return TRUE;
                                                   });
}

void DraggableImageView::setImage(GdkPixbuf* image)
{
    image_ = GObjectRef<GdkPixbuf>::retain(image);
    gtk_widget_queue_draw(widget());
}

Rect DraggableImageView::imageRect(const Size& boundsSize, const Size& imageSize)
{
    if (imageSize.width <= 0 || imageSize.height <= 0 || boundsSize.width <= 0 || boundsSize.height <= 0)
        return {};
    const double scale = std::min({1.0, boundsSize.width / imageSize.width, boundsSize.height / imageSize.height});
    const Size size{imageSize.width * scale, imageSize.height * scale};
    return {{(boundsSize.width - size.width) / 2, (boundsSize.height - size.height) / 2}, size};
}

void DraggableImageView::draw(cairo_t* cr)
{
    if (!image_)
        return;
    const Size imageSize{double(gdk_pixbuf_get_width(image_.get())), double(gdk_pixbuf_get_height(image_.get()))};
    const Rect rect = imageRect(boundsSize(), imageSize);
    if (rect.size.width <= 0 || rect.size.height <= 0)
        return;
    cairo_translate(cr, rect.origin.x, rect.origin.y);
    cairo_scale(cr, rect.size.width / imageSize.width, rect.size.height / imageSize.height);
    gdk_cairo_set_source_pixbuf(cr, image_.get(), 0, 0);
    cairo_paint(cr);
}

} // namespace kx
