#include "App/account/TelemetryPage.h"

#include <webkit2/webkit2.h>

#include "App/account/LoginController.h"
#include "App/account/LoginWindow.h"
#include "App/shell/RKLog.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"

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
    // Hidden: it waits until the main loop is idle, so that the windows of the launch come first,
    // and then for their page.
    loadPending_ = true;
    MainQueue::whenIdle([this] { afterSharedPageLoads([this] { createPage(); }); });
}

void TelemetryPage::createPage()
{
    if (controller_)
        return;
    auto page = Bundle::main().pathForResource("index", "html", "Telemetry");
    if (!page) {
        RKLog("The telemetry page is missing; usage events are not sent", RKLogKind::general);
        return;
    }
    controller_ = WebViewController::make(false, processToShare());
    controller_->setOpenLinksInSystemBrowser(false);
    controller_->loadFile(*page, [this] {
        loaded_ = true;
        while (!queue_.empty()) {
            deliver(queue_.front());
            queue_.pop_front();
        }
    });
}

namespace {

std::function<WebKitWebView*()>& signedInPageToShare()
{
    static std::function<WebKitWebView*()> page;
    return page;
}

} // namespace

void TelemetryPage::setSignedInPageToShare(std::function<WebKitWebView*()> page)
{
    signedInPageToShare() = std::move(page);
}

WebKitWebView* TelemetryPage::processToShare()
{
    if (LoginWindow* window = LoginController::shared().loginWindow())
        return window->webViewController().webView().wkWebView();
    return signedInPageToShare() ? signedInPageToShare()() : nullptr;
}

void TelemetryPage::afterSharedPageLoads(std::function<void()> work)
{
    WebKitWebView* view = processToShare();
    if (!view || !webkit_web_view_is_loading(view))
        return work();
    struct Waiting {
        std::function<void()> work;
        SignalConnection finished;
        void run()
        {
            finished.disconnect();
            if (auto pending = std::exchange(work, nullptr))
                pending();
        }
    };
    auto waiting = std::make_shared<Waiting>();
    waiting->work = std::move(work);
    waiting->finished = SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
        view, "load-changed", ifAlive(waiting, [](Waiting& held, WebKitWebView* view, WebKitLoadEvent event) {
            // The end of a load that another one replaced is not the end of the page's load.
            if (event == WEBKIT_LOAD_FINISHED && !webkit_web_view_is_loading(view))
                held.run();
        }));
    // The timer holds the waiting work: it runs then at the latest, whatever became of the view.
    MainQueue::after(std::chrono::duration_cast<std::chrono::milliseconds>(sharedPageWait), [waiting] { waiting->run(); });
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
            RKLog("The telemetry page has not loaded; the oldest waiting events are dropped", RKLogKind::general);
    }
    queue_.push_back(script);
}

void TelemetryPage::deliver(const std::string& script)
{
    controller_->evaluateJavaScript(script);
}

} // namespace kx
