#include "App/account/TelemetryPage.h"

#include "App/account/LoginController.h"
#include "App/account/LoginWindow.h"
#include "App/shell/RKLog.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

TelemetryPage& TelemetryPage::shared()
{
    static TelemetryPage* page = new TelemetryPage(); // lives as long as the process
    return *page;
}

TelemetryPage::TelemetryPage() = default;

TelemetryPage::~TelemetryPage()
{
    if (controller_)
        controller_->cleanup();
}

void TelemetryPage::load()
{
    if (controller_ || loadPending_)
        return;
    // Hidden: it waits until the main loop is idle, so that the windows of the launch come first.
    loadPending_ = true;
    MainQueue::whenIdle([this] { createPage(); });
}

void TelemetryPage::createPage()
{
    if (controller_)
        return;
    auto page = Bundle::main().pathForResource("index", "html", "Telemetry");
    if (!page) {
        RKLog("The telemetry page is missing; usage events are not sent", 0);
        return;
    }
    // The page shares the login window's web process rather than start one of its own.
    WebKitWebView* related = nullptr;
    if (LoginWindow* window = LoginController::shared().loginWindow())
        related = window->webViewController().webView().wkWebView();
    controller_ = WebViewController::make(false, related);
    controller_->setOpenLinksInSystemBrowser(false);
    controller_->loadFile(*page, [this] {
        loaded_ = true;
        while (!queue_.empty()) {
            deliver(queue_.front());
            queue_.pop_front();
        }
    });
}

void TelemetryPage::send(const std::string& url, const nlohmann::json& payload)
{
    const std::string script = "window.korvelTelemetry && window.korvelTelemetry.send(" + WebViewController::toJson(url)
                               + ", " + WebViewController::toJson(payload) + ")";
    if (loaded_)
        return deliver(script);
    load();
    if (queue_.size() >= maximumQueued) {
        queue_.pop_front();
        if (!std::exchange(toldDropped_, true))
            RKLog("The telemetry page has not loaded; the oldest waiting events are dropped", 0);
    }
    queue_.push_back(script);
}

void TelemetryPage::deliver(const std::string& script)
{
    controller_->evaluateJavaScript(script);
}

} // namespace kx
