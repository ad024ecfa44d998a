#include "App/editor/NimbetViewController.h"

#include "App/exchange/NimbetClipboard.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Workspace.h"
#include "Services/generated/Clipboard.h"

namespace kx {

namespace {

using DataResult = Result<std::string, Error>;

// Asks the page for its document when it listens; true when it did.
constexpr const char* questionScript = "window._ipc ? (window._ipc.emit(\"DocumentSave\"), true) : false";

} // namespace

std::shared_ptr<NimbetViewController> NimbetViewController::make(bool tutorialMode, std::string serverAuthorizationToken)
{
    std::shared_ptr<NimbetViewController> controller(new NimbetViewController(tutorialMode, std::move(serverAuthorizationToken)));
    controller->webViewController().webView().setActionFailureHandler(ifAlive(controller, &NimbetViewController::actionDidFail));
    controller->webViewController().setMessageRefusedHandler(ifAlive(controller, &NimbetViewController::answerWasRefused));
    controller->start();
    return controller;
}

NimbetViewController::NimbetViewController(bool tutorialMode, std::string serverAuthorizationToken)
    : BaseNimbetViewController(tutorialMode, std::move(serverAuthorizationToken))
    , clipboard_(std::make_shared<NimbetClipboard>())
{
    WebBridge::WebView& view = webViewController().webView();
    view.serviceManager().registerService(Clipboard::service(), view.serviceChannel(), clipboard_);
}

NimbetViewController::~NimbetViewController()
{
    failAllRequests(NimbetError::Code::viewControllerGone);
}

void NimbetViewController::setNimbetIPCProcessor(std::shared_ptr<NimbetIPCProcessor> processor)
{
    nimbetIPCProcessor_ = processor;
    setIPCProcessor(std::move(processor));
}

void NimbetViewController::handleMessage(const std::string& method, std::optional<nlohmann::json> arguments)
{
    // An answer without a document is no empty document: it fails the save.
    if (method == "DocumentSaveDialogStart")
        return documentDidArrive(arguments ? std::move(*arguments) : nlohmann::json());
    BaseNimbetViewController::handleMessage(method, std::move(arguments));
}

void NimbetViewController::actionDidFail(const std::string& action)
{
    const auto report = action == "paste" ? clipboard_->takeLastReadReport() : std::nullopt;
    if (!report)
        return Workspace::shared().beep();
    if (!pasteAlert_.expired())
        return;
    auto alert = Alert::make();
    alert->setMessageText("Nothing was pasted.");
    alert->setInformativeText(NimbetClipboard::unusableContentsText(*report));
    alert->setAlertStyle(Alert::Style::informational);
    alert->addButton("OK");
    GtkWidget* toplevel = gtk_widget_get_toplevel(webViewController().webView().widget());
    pasteAlert_ = alert;
    alert->beginSheetModal(GTK_IS_WINDOW(toplevel) ? GTK_WINDOW(toplevel) : nullptr, [](Alert::ModalResponse) {});
}

void NimbetViewController::pageDidGo()
{
    ++pageGeneration_;
    pageSilent_ = false;
    failAllRequests(NimbetError::Code::pageGone);
}

namespace {

// A busy page (a paste of megabytes) may take seconds; one that takes longer is not waited for:
// autosaves, backups and quitting would wait with it.
constexpr std::chrono::milliseconds pageAnswerTimeout = std::chrono::seconds(20);
// A page that let its last question time out and has been silent since is hung, most likely: it
// is asked again, but not waited for as long, or a quit after a failed save would wait for it
// once for each autosave and backup that asks meanwhile.
constexpr int silentPageShare = 10;
std::optional<std::chrono::milliseconds>& pageAnswerTimeoutOverride()
{
    static std::optional<std::chrono::milliseconds> timeout;
    return timeout;
}

} // namespace

void NimbetViewController::setPageAnswerTimeoutForTesting(std::optional<std::chrono::milliseconds> timeout)
{
    pageAnswerTimeoutOverride() = timeout;
}

void NimbetViewController::requestDocument(DocumentCompletion completion)
{
    if (!isDocumentReady())
        return completion(DataResult::failure(NimbetError::error(NimbetError::Code::pageNotReady)));
    waitingRequests_.push_back(std::move(completion));
    scheduleQuestion();
}

void NimbetViewController::scheduleQuestion()
{
    if (questionOutstanding_ || questionScheduled_ || waitingRequests_.empty())
        return;
    // Requests made in the same turn of the main loop share the question.
    questionScheduled_ = true;
    MainQueue::async(ifAlive(weakThis(), &NimbetViewController::askPage));
}

std::weak_ptr<NimbetViewController> NimbetViewController::weakThis()
{
    return std::static_pointer_cast<NimbetViewController>(shared_from_this());
}

void NimbetViewController::askPage()
{
    questionScheduled_ = false;
    if (questionOutstanding_ || waitingRequests_.empty())
        return;
    if (!isDocumentReady())
        return failRequests(std::exchange(waitingRequests_, {}), NimbetError::Code::pageNotReady);
    askedRequests_ = std::exchange(waitingRequests_, {});
    questionOutstanding_ = true;
    const std::uint64_t generation = pageGeneration_;
    const std::uint64_t question = ++questionNumber_;
    const auto timeout = pageAnswerTimeoutOverride().value_or(pageAnswerTimeout);
    MainQueue::after(pageSilent_ ? timeout / silentPageShare : timeout,
                     ifAlive(weakThis(), [question](NimbetViewController& self) { self.questionTimedOut(question); }));
    webViewController().evaluateJavaScript(
        questionScript, ifAlive(weakThis(), [generation](NimbetViewController& self, std::optional<nlohmann::json> result, std::optional<Error>) {
            self.questionWasPosed(generation, result);
        }));
}

void NimbetViewController::questionTimedOut(std::uint64_t question)
{
    if (!questionOutstanding_ || questionNumber_ != question)
        return;
    RKLog("The editor page did not hand over the document in time", RKLogKind::general);
    // Requests that came while it was out fail too: no question is asked for them while the
    // page is hung, and nothing else would ever answer them. The next save asks again.
    questionOutstanding_ = false;
    ++questionNumber_;
    pageSilent_ = true;
    failRequests(std::exchange(askedRequests_, {}), NimbetError::Code::pageNotAnswering);
    failRequests(std::exchange(waitingRequests_, {}), NimbetError::Code::pageNotAnswering);
}

void NimbetViewController::questionWasPosed(std::uint64_t generation, const std::optional<nlohmann::json>& result)
{
    if (pageGeneration_ == generation)
        pageSilent_ = false; // it ran the question, if late
    if (pageGeneration_ != generation || !questionOutstanding_)
        return;
    if (result && *result == true)
        return; // the page has the question; its answer comes as a message
    questionOutstanding_ = false;
    failRequests(std::exchange(askedRequests_, {}), NimbetError::Code::pageNotReady);
    scheduleQuestion();
}

void NimbetViewController::answerWasRefused()
{
    // Nothing else the page posts comes near the largest document: this was the answer, and
    // waiting for it would only end in the time-out and blame a busy page.
    pageSilent_ = false;
    if (!questionOutstanding_)
        return;
    questionOutstanding_ = false;
    failRequests(std::exchange(askedRequests_, {}), NimbetError::Code::documentTooLarge);
    scheduleQuestion();
}

void NimbetViewController::documentDidArrive(nlohmann::json arguments)
{
    pageSilent_ = false;
    if (!questionOutstanding_)
        return; // nobody asked
    questionOutstanding_ = false;
    const std::uint64_t answer = nextAnswer_++;
    answeredRequests_.emplace(answer, std::exchange(askedRequests_, {}));
    scheduleQuestion();
    if (arguments.is_string())
        return answerIsReady(answer, DataResult::failure(NimbetError::error(NimbetError::Code::pageFailed, arguments.get<std::string>())));
    if (!arguments.is_object())
        return answerIsReady(answer, DataResult::failure(NimbetError::error(NimbetError::Code::invalidDocument)));
    // A document of megabytes is written out, and its tree freed, off the main thread.
    ThreadPool::global().async([weak = weakThis(),
                                answer, document = std::make_shared<nlohmann::json>(std::move(arguments))]() mutable {
        std::optional<DataResult> result;
        try {
            result = DataResult::success(document->dump());
        } catch (const nlohmann::json::exception&) {
            result = DataResult::failure(NimbetError::error(NimbetError::Code::invalidDocument));
        }
        document.reset();
        MainQueue::async(ifAlive(std::move(weak), [answer, result = std::make_shared<DataResult>(std::move(*result))](NimbetViewController& self) {
            self.answerIsReady(answer, std::move(*result));
        }));
    });
}

void NimbetViewController::answerIsReady(std::uint64_t answer, DataResult result)
{
    auto found = answeredRequests_.find(answer);
    if (found == answeredRequests_.end())
        return; // failed meanwhile: the page or the window went
    std::vector<DocumentCompletion> requests = std::move(found->second);
    answeredRequests_.erase(found);
    // The last request takes the document itself: a document of megabytes is copied only for
    // the requests before it, which are rare.
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (i + 1 < requests.size())
            requests[i](result);
        else
            requests[i](std::move(result));
    }
}

void NimbetViewController::failRequests(std::vector<DocumentCompletion> requests, NimbetError::Code code)
{
    for (auto& request : requests)
        request(DataResult::failure(NimbetError::error(code)));
}

void NimbetViewController::failAllRequests(NimbetError::Code code)
{
    questionOutstanding_ = false;
    std::vector<DocumentCompletion> requests = std::exchange(askedRequests_, {});
    for (auto& [answer, answered] : std::exchange(answeredRequests_, {})) {
        for (auto& request : answered)
            requests.push_back(std::move(request));
    }
    for (auto& request : std::exchange(waitingRequests_, {}))
        requests.push_back(std::move(request));
    failRequests(std::move(requests), code);
}

} // namespace kx
