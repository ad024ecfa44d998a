// The open documents kept for the next launch, quitting and closing every document.
#include "Platform/Documents/DocumentControllerBase.h"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "Platform/Foundation/SourceHandle.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/ResponderChain.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumStateLength = 4 << 20;
// How long quitting waits for the documents' saves.
constexpr auto quittingSaveLimit = std::chrono::seconds(60);

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key)
{
    auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    return found->get<std::string>();
}

// "Untitled (1A2B3C4D).korvelx" was the draft of "Untitled".
std::string nameOfDraft(const fs::path& draft)
{
    std::string name = draft.stem().string();
    if (name.size() > 11 && name.ends_with(")") && name[name.size() - 11] == ' ' && name[name.size() - 10] == '(')
        name.resize(name.size() - 11);
    return name;
}

// One after the other: each document may ask its question.
struct CloseAll {
    std::vector<std::weak_ptr<Document>> remaining;
    std::function<void(bool allClosed)> completion;
    bool keepingDrafts = false;
};

void closeNext(std::shared_ptr<CloseAll> state);

// The document's own question decides; the next follows once it went.
void closeWhenAllowed(std::shared_ptr<CloseAll> state, std::shared_ptr<Document> document)
{
    document->canClose([state, document](bool shouldClose) {
        if (!shouldClose) {
            state->completion(false);
            return;
        }
        document->close();
        closeNext(state);
    });
}

// Untitled, to be opened again: its work goes into its draft, as quitting keeps it.
void closeIntoDraft(std::shared_ptr<CloseAll> state, std::shared_ptr<Document> document)
{
    document->autosave(false, [state, document](std::optional<Error> error) {
        // A draft that could not be written, or work done meanwhile that it does not hold:
        // the usual question.
        if (error || document->hasUnautosavedChanges()) {
            closeWhenAllowed(state, document);
            return;
        }
        document->closeKeepingDraft();
        closeNext(state);
    });
}

void closeNext(std::shared_ptr<CloseAll> state)
{
    std::shared_ptr<Document> document;
    while (!document && !state->remaining.empty()) {
        document = state->remaining.front().lock();
        state->remaining.erase(state->remaining.begin());
        if (document && document->isClosed())
            document.reset(); // closed meanwhile by other means
    }
    if (!document) {
        state->completion(true);
        return;
    }
    if (!state->keepingDrafts || (document->fileURL() && !document->isFileGone()))
        closeWhenAllowed(std::move(state), std::move(document));
    else
        closeIntoDraft(std::move(state), std::move(document));
}

} // namespace

DocumentControllerBase::Path DocumentControllerBase::restorationStateFile() const
{
    return dataDirectory() / "OpenDocuments.json";
}

void DocumentControllerBase::saveRestorationState() const
{
    if (restoring_)
        return;
    nlohmann::json entries = nlohmann::json::array();
    for (const auto& document : documents_) {
        nlohmann::json entry = {{"type", document->fileType()}};
        // A document whose file went lives on in its draft, as an untitled one does.
        if (document->fileURL() && !document->isFileGone()) {
            entry["fileURL"] = document->fileURL()->string();
        } else if (auto draft = document->autosavedContentsFileURL()) {
            entry["type"] = document->draftType();
            entry["draft"] = draft->string();
            entry["displayName"] = document->displayName();
        } else {
            continue;
        }
        if (auto windows = document->encodeRestorableState(); !windows.is_null())
            entry["state"] = std::move(windows);
        entries.push_back(std::move(entry));
    }
    const nlohmann::json state = {{"documents", std::move(entries)}};
    // Names that are not UTF-8 cannot be kept; the documents open again from the drafts.
    std::string text;
    try {
        text = state.dump(2);
    } catch (const nlohmann::json::exception&) {
        return;
    }
    // Unchanged, as at most launches, it is not written (and synced) again.
    const fs::path file = restorationStateFile();
    if (FileSystem::readFile(file) == text)
        return;
    FileSystem::atomicWrite(file, text);
}

void DocumentControllerBase::restoreDocuments(std::function<void(std::vector<std::shared_ptr<Document>>)> completion)
{
    std::vector<std::shared_ptr<Document>> restored;
    nlohmann::json state;
    if (auto text = FileSystem::readFile(restorationStateFile()); text && text->size() <= maximumStateLength)
        state = nlohmann::json::parse(*text, nullptr, false);
    restoring_ = true;
    std::set<fs::path> listedDrafts;
    if (state.is_object() && state["documents"].is_array()) {
        for (const auto& entry : state["documents"]) {
            if (!entry.is_object())
                continue;
            if (auto draft = stringMember(entry, "draft"))
                listedDrafts.insert(fs::path(*draft).lexically_normal());
            restoreEntry(entry, restored);
        }
    }
    // Drafts the list does not know of (a crash before it was written) are work too.
    std::error_code ec;
    std::vector<fs::path> drafts;
    for (const auto& item : fs::directory_iterator(draftsDirectory(), ec))
        drafts.push_back(item.path());
    std::sort(drafts.begin(), drafts.end());
    for (const auto& draft : drafts) {
        if (listedDrafts.contains(draft.lexically_normal()) || draft.filename().string().starts_with('.'))
            continue;
        restoreEntry({{"draft", draft.string()}, {"displayName", nameOfDraft(draft)}}, restored);
    }
    restoring_ = false;
    saveRestorationState();
    didRestoreDocuments();
    if (completion)
        completion(std::move(restored));
}

void DocumentControllerBase::restoreEntry(const nlohmann::json& entry, std::vector<std::shared_ptr<Document>>& restored)
{
    if (auto file = stringMember(entry, "fileURL")) {
        std::error_code ec;
        if (!fs::exists(*file, ec))
            return;
        const nlohmann::json windows = entry.contains("state") ? entry["state"] : nlohmann::json();
        openDocumentWithContentsOfURL(*file, true, [this, &restored, windows](std::shared_ptr<Document> document, bool alreadyOpen, std::optional<Error> error) {
            if (document && !alreadyOpen) {
                document->restoreState(windows);
                restored.push_back(document);
            }
            if (error)
                presentError(*error);
        });
        return;
    }
    auto draft = stringMember(entry, "draft");
    if (!draft)
        return;
    auto document = openDraft(*draft, stringMember(entry, "type").value_or(""), stringMember(entry, "displayName").value_or(""));
    if (!document)
        return;
    if (entry.contains("state"))
        document->restoreState(entry["state"]);
    restored.push_back(std::move(document));
}

std::shared_ptr<Document> DocumentControllerBase::openDraft(const Path& draft, const std::string& type,
                                                            const std::string& displayName)
{
    if (!isInDraftsDirectory(draft))
        return nullptr;
    std::error_code ec;
    if (!fs::exists(draft, ec))
        return nullptr;
    for (const auto& open : documents_)
        if (open->autosavedContentsFileURL() && open->autosavedContentsFileURL()->lexically_normal() == draft.lexically_normal())
            return nullptr;
    try {
        const std::string contentType = type.empty() || !types_.type(type) ? typeForContentsOfURL(draft) : type;
        auto document = makeDocumentForURL(std::nullopt, draft, contentType);
        if (!displayName.empty())
            document->setDisplayName(displayName);
        addDocument(document);
        document->makeWindowControllers();
        document->showWindows();
        return document;
    } catch (...) {
        // The draft stays where it is: it may be the only copy of that work.
        presentError(errorFromException(std::current_exception()));
        return nullptr;
    }
}

bool DocumentControllerBase::reviewDocumentsBeforeQuitting(bool ask)
{
    // Autosaving waits for the pages; inside another wait it could not. Asked again after it;
    // an end that cannot wait keeps what the timer last wrote.
    if (RunLoopWait::isWaiting()) {
        if (!ask) {
            saveRestorationState();
            return true;
        }
        RunLoopWait::whenNotWaiting([] { ResponderChain::shared().sendAction("terminate:", nullptr, nullptr); });
        return false;
    }
    terminating_ = true;
    struct Round {
        int pending = 0;
        std::vector<std::pair<std::shared_ptr<Document>, Error>> failures;
    };
    auto round = std::make_shared<Round>();
    const auto documents = documents_;
    for (const auto& document : documents) {
        if (!document->hasUnautosavedChanges())
            continue;
        ++round->pending;
        document->autosave(false, [round, document](std::optional<Error> error) {
            if (error)
                round->failures.emplace_back(document, *error);
            --round->pending;
        });
    }
    // Bounded: a page that never answers fails its save after its own time-out, but nothing
    // may keep the application from ending. What did not finish keeps what it last wrote.
    {
        const auto deadline = std::chrono::steady_clock::now() + quittingSaveLimit;
        const SourceHandle tick = SourceHandle::fromId(g_timeout_add(100, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr));
        while (round->pending > 0 && std::chrono::steady_clock::now() < deadline)
            g_main_context_iteration(nullptr, TRUE);
        if (round->pending > 0)
            g_warning("Quitting without waiting longer for %d document(s) to be saved", round->pending);
    }
    // What could not be saved where it belongs is kept in the drafts folder, and offered again
    // at the next launch as a document of its own: written before the question, so that the
    // question says what quitting does with the changes. Not where only an editor that did not
    // answer holds them: its draft would ask that editor in vain; nor for a document whose file
    // went: what failed was its own draft, and why is told already; nor for one that keeps the
    // work itself for the next launch.
    struct Kept {
        std::optional<Path> draft;
        std::optional<Error> failure;
    };
    std::vector<Kept> kept(round->failures.size());
    for (std::size_t index = 0; index < round->failures.size(); ++index) {
        const auto& document = round->failures[index].first;
        if (document->isClosed() || !document->isDocumentEdited() || !document->draftCanTakeUnsavedChanges() || document->isFileGone()
            || document->keepsUnsavedWorkAtEnd())
            continue;
        try {
            kept[index].draft = document->writeDraftCopy(document->displayName() + " (unsaved changes)");
        } catch (...) {
            kept[index].failure = Document::errorFromException(std::current_exception());
        }
    }
    for (std::size_t index = 0; index < round->failures.size() && ask; ++index) {
        const auto& [document, error] = round->failures[index];
        // The file keeps another program's version, a full disk refused it, ...: what really
        // happened, the cause's own text, a sentence of its own also where it comes without a
        // full stop (the system's texts).
        auto alert = Alert::make();
        alert->setMessageText("The document \u201C" + document->displayName() + "\u201D could not be saved.");
        std::string text;
        auto append = [&text](const std::string& sentence) {
            if (sentence.empty())
                return;
            text += (text.empty() ? "" : std::string_view(".!?").find(text.back()) == std::string_view::npos ? ". " : " ") + sentence;
        };
        append(error.localizedDescription);
        if (const auto advice = error.informativeText(); advice != error.localizedDescription)
            append(advice);
        // And what quitting does with the changes: the draft, or, where none could be written,
        // why not; the changes are then lost.
        if (document->isDocumentEdited()) {
            if (kept[index].draft) {
                append("If you quit anyway, your changes are kept as a draft that opens at the next launch.");
            } else if (document->keepsUnsavedWorkAtEnd()) {
                append("If you quit anyway, your changes are kept and open with the document at the next launch.");
            } else {
                if (const auto& failure = kept[index].failure) {
                    const bool sameCause = failure->localizedDescription == error.localizedDescription;
                    append(sameCause ? "Nor could your changes be kept as a draft."
                                     : "Nor could your changes be kept as a draft: " + failure->localizedDescription);
                    if (const auto advice = failure->informativeText(); !sameCause && advice != failure->localizedDescription)
                        append(advice);
                }
                // A draft written before (of a document whose file went) stays where it is.
                const auto earlier = document->autosavedContentsFileURL();
                std::error_code ec;
                if (earlier && isInDraftsDirectory(*earlier) && fs::exists(*earlier, ec))
                    append("If you quit anyway, the draft written earlier is kept and opens at the next launch, without the changes "
                           "made since then.");
                else
                    append("If you quit anyway, the changes made since the last save are lost.");
            }
        }
        alert->setInformativeText(text);
        alert->addButton("Don't Quit");
        alert->addButton("Quit Anyway");
        if (alert->runModal(document->windowForSheet()) != Alert::secondButtonReturn) {
            // The documents stay open with their work: drafts of it would come back as copies.
            for (const auto& [draft, failure] : kept)
                if (draft && isInDraftsDirectory(*draft)) {
                    std::error_code ec;
                    fs::remove_all(*draft, ec);
                }
            terminating_ = false;
            return false;
        }
    }
    for (std::size_t index = 0; index < round->failures.size(); ++index) {
        const auto& name = round->failures[index].first->displayName();
        if (const auto& draft = kept[index].draft)
            g_message("The unsaved changes of %s are kept in %s", name.c_str(), draft->c_str());
        else if (const auto& failure = kept[index].failure)
            g_warning("The unsaved changes of %s could not be kept: %s", name.c_str(), failure->localizedDescription.c_str());
    }
    saveRestorationState();
    for (const auto& document : documents)
        document->close();
    return true;
}

void DocumentControllerBase::closeAllDocuments(std::function<void(bool allClosed)> completion, bool keepingDrafts)
{
    auto state = std::make_shared<CloseAll>();
    for (const auto& document : documents_)
        state->remaining.push_back(document);
    state->completion = std::move(completion);
    state->keepingDrafts = keepingDrafts;
    closeNext(state);
}

} // namespace kx
