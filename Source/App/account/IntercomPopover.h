// The in-app support chat: the shipped messenger page, talking with the current environment's
// conversation API as the signed-in user, shown in a popover under the button that toggled
// it. `load` prepares the page ahead of its first showing; `isLoaded` turns true once it can
// be shown. The page reports its unread count, which is posted as
// IntercomUnreadCountDidChangeNotification with the user-info key "count".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Observable.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class WebViewController;
class MessengerPopover;

inline constexpr const char* IntercomUnreadCountDidChangeNotification = "IntercomUnreadCountDidChangeNotification";

class IntercomPopover {
public:
    static IntercomPopover& shared();

    IntercomPopover();
    ~IntercomPopover();
    IntercomPopover(const IntercomPopover&) = delete;
    IntercomPopover& operator=(const IntercomPopover&) = delete;

    void load();
    Observable<bool> isLoaded{false};

    // The button it was last shown from, nullptr when none (or that button is gone).
    GtkWidget* currentButton() const;
    // Shows the chat under `button`, or hides it when it is shown from that button already.
    void toggle(GtkWidget* fromButton);
    void hide();
    bool isShown() const;
    int unreadCount() const { return unreadCount_; }

    WebViewController* webViewController() const { return controller_.get(); }
    // The pop-up window while loaded, else nullptr.
    GtkWidget* popoverWindow() const;

private:
    void configurePage();
    void pageMessage(const std::string& method, const nlohmann::json& arguments);
    void setUnreadCount(int count);

    std::shared_ptr<WebViewController> controller_;
    std::unique_ptr<MessengerPopover> popover_;
    GtkWidget* currentButton_ = nullptr; // cleared when the button is destroyed
    SignalConnection currentButtonDestroyed_;
    int unreadCount_ = 0;
    std::vector<NotificationCenter::Token> userObservers_;
};

} // namespace kx
