// The editor view controller of one document window: the editor page with the clipboard
// service, the editor message processor, and the document's "design/document.json" as a data
// source whose content the page gives on request.
//
// Asking for the document sends the page "DocumentSave"; the page answers
// "DocumentSaveDialogStart" with the document, a JSON object. Requests made at the same time
// share one question and its answer; a request made while a question is out waits for a
// question of its own, since the page may have answered the earlier one before the latest
// change. Nothing times out, so every waiting request fails with a NimbetError when the page
// cannot answer any more: it is not ready, it is replaced, its process ends, or the
// controller goes. An answer that is not an object fails them too (a text answer is the
// page's own reason); the container then leaves the file as it was.
//
// Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/documents/KVDocumentContainerDataSource.h"
#include "App/editor/BaseNimbetViewController.h"
#include "App/editor/NimbetError.h"
#include "App/editor/NimbetIPCProcessor.h"

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

    // The same source on every call: empty data, to be provided, a reader that keeps nothing
    // (the page loads the file itself) and a provider that asks the page.
    const std::shared_ptr<KVDocumentContainerDataSource>& dataSourceForDocumentJSON() const { return dataSource_; }
    // The page has changes that are not saved: the source needs to be provided again.
    void nimbetDocumentDidBecomeDirty();

    // How long the page has to answer for its document before the requests fail; tests set a
    // shorter time, nullopt puts the normal one back.
    static void setPageAnswerTimeoutForTesting(std::optional<std::chrono::milliseconds> timeout);

private:
    using ProviderCompletion = KVDocumentContainerDataSource::ProviderCompletion;

    NimbetViewController(bool tutorialMode, std::string serverAuthorizationToken);
    void handleMessage(const std::string& method, std::optional<nlohmann::json> arguments) override;
    void pageDidGo() override;
    void pageStoppedAnswering() override;
    // The page could not perform `action`: a paste that found nothing it could use says why
    // (what the clipboard's read found), anything else beeps.
    void actionDidFail(const std::string& action);

    void requestDocument(ProviderCompletion completion);
    void scheduleQuestion();
    void askPage();
    void documentDidArrive(nlohmann::json arguments);
    void answerIsReady(std::uint64_t answer, Result<KVDocumentContainerDataSource::Data, Error> result);
    void failRequests(std::vector<ProviderCompletion> requests, NimbetError::Code code);
    void failAllRequests(NimbetError::Code code);

    std::shared_ptr<NimbetIPCProcessor> nimbetIPCProcessor_;
    std::shared_ptr<NimbetClipboard> clipboard_;
    std::weak_ptr<Alert> pasteAlert_; // one at a time, however often the user pastes
    std::shared_ptr<KVDocumentContainerDataSource> dataSource_;

    std::vector<ProviderCompletion> waitingRequests_;  // not asked yet
    std::vector<ProviderCompletion> askedRequests_;    // waiting for the answer to the question out
    // Answered, while a worker turns the answer into bytes; by answer.
    std::map<std::uint64_t, std::vector<ProviderCompletion>> answeredRequests_;
    std::uint64_t nextAnswer_ = 0;
    bool questionOutstanding_ = false;
    std::uint64_t questionNumber_ = 0; // counts the questions asked, for their time-outs
    bool questionScheduled_ = false;
    std::uint64_t pageGeneration_ = 0; // counts the pages that went
};

} // namespace kx
