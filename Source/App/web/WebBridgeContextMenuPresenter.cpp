#include "App/web/WebBridgeContextMenuPresenter.h"

#include <cmath>

#include "App/web/AppMenu.h"

namespace kx {

WebBridgeContextMenuPresenter::WebBridgeContextMenuPresenter(GtkWidget* webView)
    : webView_(webView)
{
}

void WebBridgeContextMenuPresenter::showContextMenu(KorvelServices::ContextMenu menu,
                                                    CompletionHandler<KorvelServices::ContextMenuResult> completionHandler)
{
    auto view = webView_.lock();
    GtkWidget* widget = view.get();
    std::optional<Point> location;
    if (widget && menu.location) {
        GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
        int x = 0, y = 0;
        if (GTK_IS_WINDOW(toplevel) && gtk_widget_get_realized(toplevel)
            && std::isfinite(menu.location->x) && std::isfinite(menu.location->y)
            && gtk_widget_translate_coordinates(widget, toplevel, int(std::lround(menu.location->x)),
                                                int(std::lround(menu.location->y)), &x, &y))
            location = Point{double(x), double(y)};
    }
    AppMenu::showContextMenu(menu.items, widget, location, std::move(completionHandler));
}

} // namespace kx
