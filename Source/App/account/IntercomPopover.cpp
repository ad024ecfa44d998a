#include "App/account/IntercomPopover.h"

#include "App/account/AppServices.h"
#include "App/account/LoginController.h"
#include "App/account/MessengerPopover.h"
#include "App/account/TelemetryPage.h"
#include "App/shell/RKLog.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/IfAlive.h"

namespace kx {

namespace {

constexpr int maximumUnreadCount = 1000000;

} // namespace

IntercomPopover& IntercomPopover::shared()
{
    static IntercomPopover* popover = new IntercomPopover(); // lives as long as the process
    return *popover;
}

IntercomPopover::IntercomPopover() = default;

IntercomPopover::~IntercomPopover()
{
    currentButtonDestroyed_ = {};
    popover_.reset();
    if (controller_)
        controller_->cleanup();
}

void IntercomPopover::load()
{
    if (controller_)
        return;
    auto page = Bundle::main().pathForResource("index", "html", "Messenger");
    if (!page) {
        RKLog("The messenger page is missing; the support chat stays off", RKLogKind::general);
        return;
    }
    controller_ = WebViewController::make(false, TelemetryPage::processToShare());
    controller_->setBridgeHandler(
        [this](const std::string& method, const nlohmann::json& arguments) { pageMessage(method, arguments); });
    popover_ = std::make_unique<MessengerPopover>(controller_->webView().widget());
    // A user who signs in again talks as that user; one who signed out no longer talks.
    for (const char* name : {UserConfigChangedNotification, LoginTokenDidChangeNotification}) {
        userObservers_.push_back(NotificationCenter::defaultCenter().addObserver(name, nullptr, [this](const Notification&) {
            if (isLoaded)
                configurePage();
        }));
    }
    // Its page loads once the page it shares a process with has.
    TelemetryPage::afterSharedPageLoads(ifAlive(controller_, [this, page = *page](WebViewController& controller) {
        controller.loadFile(page, [this] {
            configurePage();
            isLoaded = true;
        });
    }));
}

void IntercomPopover::configurePage()
{
    const auto& login = LoginController::shared();
    nlohmann::json configuration = {
        {"api", AppServices::currentEnvironment().messenger},
        {"token", login.token() ? nlohmann::json(*login.token()) : nlohmann::json()},
        {"userName", login.userName() ? nlohmann::json(*login.userName()) : nlohmann::json()},
    };
    controller_->evaluateJavaScript("window.korvelMessenger && window.korvelMessenger.configure("
                                    + WebViewController::toJson(configuration) + ")");
}

void IntercomPopover::pageMessage(const std::string& method, const nlohmann::json& arguments)
{
    if (method != "unreadCount")
        return;
    const auto* count = arguments.is_object() && arguments.contains("count") ? &arguments["count"] : nullptr;
    if (!count || !count->is_number_integer()) {
        RKLog("The messenger page sent an unread count that is not a whole number", RKLogKind::general);
        return;
    }
    const auto value = count->get<std::int64_t>();
    setUnreadCount(int(std::clamp<std::int64_t>(value, 0, maximumUnreadCount)));
}

void IntercomPopover::setUnreadCount(int count)
{
    if (count == unreadCount_)
        return;
    unreadCount_ = count;
    NotificationCenter::defaultCenter().post(IntercomUnreadCountDidChangeNotification, this, {{"count", count}});
}

GtkWidget* IntercomPopover::currentButton() const
{
    return currentButton_;
}

GtkWidget* IntercomPopover::popoverWindow() const
{
    return popover_ ? popover_->frameWidget() : nullptr;
}

bool IntercomPopover::isShown() const
{
    return popover_ && popover_->isShown();
}

void IntercomPopover::toggle(GtkWidget* fromButton)
{
    if (!isLoaded || !fromButton)
        return;
    if (isShown() && fromButton == currentButton_)
        return hide();
    if (currentButton_ != fromButton) {
        currentButton_ = fromButton;
        // The popover closes with the button's window; only the pointer needs clearing here.
        currentButtonDestroyed_ = SignalConnection::connect<void(GtkWidget*)>(
            fromButton, "destroy", [this](GtkWidget*) { currentButton_ = nullptr; });
    }
    popover_->showRelativeTo(fromButton);
    controller_->evaluateJavaScript("window.korvelMessenger && window.korvelMessenger.didShow()");
}

void IntercomPopover::hide()
{
    if (popover_)
        popover_->hide();
}

} // namespace kx
