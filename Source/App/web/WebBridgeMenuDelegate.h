// The delegate of the menus built from the page's description, to which the application also
// forwards the openings and closings of its own menus. When a menu opens it finds the web view
// that would perform the menu's web actions and has it ask its page for the states of all its
// actions in one request; when that web view's last menu closes, the answer is dropped.
#pragma once

#include <map>
#include <memory>

#include "Platform/UI/NativeMenuDelegate.h"
#include "Platform/UI/Responder.h"

namespace kx::WebBridge {

class MenuDelegate : public NativeMenuDelegate {
public:
    void menuWillOpen(NativeMenu& menu) override;
    void menuDidClose(NativeMenu& menu) override;

private:
    // Each open menu with the web view it belongs to; the web view may go while it is open.
    std::map<const NativeMenu*, Responder::WeakRef> menuToWebViewMap_;
};

// The shared delegate, made on first use and kept for the process's life.
const std::shared_ptr<MenuDelegate>& menuDelegate();

} // namespace kx::WebBridge
