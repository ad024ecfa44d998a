// The editor view controller of one document window: the editor page with the clipboard
// service and the editor message processor; it gives the page's document, the content of
// "design/document.json", on request (the document's data source for that file asks here).
//
// Asking for the document sends the page "DocumentSave"; the page answers
// "DocumentSaveDialogStart" with the document, a JSON object. Requests made at the same time
// share one question and its answer; a request made while a question is out waits for a
// question of its own, since the page may have answered the earlier one before the latest
// change. Every waiting request fails with a NimbetError when the page cannot answer any
// more: it is not ready, it is replaced, its process ends, it does not answer in time, or the
// controller goes. An answer that is not an object fails them too (a text answer is the
// page's own reason), and so does one longer than the view takes (`largestDocument`), at once;
// the container then leaves the file as it was.
//
// Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/editor/BaseNimbetViewController.h"
#include "App/editor/NimbetError.h"
#include "App/editor/NimbetIPCProcessor.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class Alert;
class NimbetClipboard;

class NimbetViewController final : public BaseNimbetViewController {
public:
    // initWithTutorialMode:serverAuthorizationToken:
    static std::shared_ptr<NimbetViewController> make(bool tutorialMode, std::string serverAuthorizationToken);
    ~NimbetViewController() override;

    const std::shared_ptr<NimbetIPCProcessor>& nimbetIPCProcessor() const { return nimbetIPCProcessor_; }
    void setNimbetIPCProcessor(std::shared_ptr<NimbetIPCProcessor> processor);

    // Asks the page for its document: `completion` runs once, on the main thread, with the
    // document's JSON text or a NimbetError (see above).
    using DocumentCompletion = std::function<void(Result<std::string, Error> result)>;
    void requestDocument(DocumentCompletion completion);

    // How long the page has to answer for its document before the requests fail; tests set a
    // shorter time, nullopt puts the normal one back.
    static void setPageAnswerTimeoutForTesting(std::optional<std::chrono::milliseconds> timeout);

private:
    NimbetViewController(bool tutorialMode, std::string serverAuthorizationToken);
    void handleMessage(const std::string& method, std::optional<nlohmann::json> arguments) override;
    void pageDidGo() override;
    // The page could not perform `action`: a paste that found nothing it could use says why
    // (what the clipboard's read found), anything else beeps.
    void actionDidFail(const std::string& action);

    std::weak_ptr<NimbetViewController> weakThis();
    void scheduleQuestion();
    void askPage();
    // The steps of a question: its time ran out; the page took it (or could not).
    void questionTimedOut(std::uint64_t question);
    void questionWasPosed(std::uint64_t generation, const std::optional<nlohmann::json>& result);
    void documentDidArrive(nlohmann::json arguments);
    // The page's answer was refused for its length (see WebViewController::setMessageRefusedHandler).
    void answerWasRefused();
    void answerIsReady(std::uint64_t answer, Result<std::string, Error> result);
    void failRequests(std::vector<DocumentCompletion> requests, NimbetError::Code code);
    void failAllRequests(NimbetError::Code code);

    std::shared_ptr<NimbetIPCProcessor> nimbetIPCProcessor_;
    std::shared_ptr<NimbetClipboard> clipboard_;
    std::weak_ptr<Alert> pasteAlert_; // one at a time, however often the user pastes

    std::vector<DocumentCompletion> waitingRequests_;  // not asked yet
    std::vector<DocumentCompletion> askedRequests_;    // waiting for the answer to the question out
    // Answered, while a worker turns the answer into bytes; by answer.
    std::map<std::uint64_t, std::vector<DocumentCompletion>> answeredRequests_;
    std::uint64_t nextAnswer_ = 0;
    bool questionOutstanding_ = false;
    std::uint64_t questionNumber_ = 0; // counts the questions asked, for their time-outs
    bool questionScheduled_ = false;
    // The page left its last question unanswered and has not run a script of ours since.
    bool pageSilent_ = false;
    std::uint64_t pageGeneration_ = 0; // counts the pages that went
};

} // namespace kx
