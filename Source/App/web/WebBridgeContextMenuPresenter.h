// The page's context menus: the native side of its ContextMenuPresenter service. The menu
// opens at the page's location in the web view, or at the pointer when the page gives none or
// the view is not in a window.
#pragma once

#include <gtk/gtk.h>

#include "Platform/Foundation/WeakObject.h"
#include "Services/generated/ContextMenuPresenter.h"

namespace kx {

class WebBridgeContextMenuPresenter final : public ContextMenuPresenter::Interface {
public:
    explicit WebBridgeContextMenuPresenter(GtkWidget* webView);

    void showContextMenu(KorvelServices::ContextMenu menu,
                         CompletionHandler<KorvelServices::ContextMenuResult> completionHandler) override;

private:
    WeakObject<GtkWidget> webView_;
};

} // namespace kx
