// Discardable items: images and assets the document no longer names.
#include "App/documents/container/KVDocumentContainer.h"

namespace kx {

void KVDocumentContainer::detectDiscardableItems(std::function<void()> then)
{
    std::weak_ptr<KVDocumentContainer> weak = weak_from_this();
    // `then` runs also when the container went meanwhile: a writer waits for it.
    KVContainerDiscardables::findNames(
        projectDirectory_ / KVDocumentArchive::relativePathForDocumentJSON, KVContainerDiscardables::candidates(projectManifestEntries_),
        [weak, then = std::move(then)](const std::vector<std::string>& names, const KVContainerDiscardables::NameUse& use) {
            if (auto self = weak.lock(); self && self->isValid_) {
                if (!use.failure.empty())
                    self->log(use.failure);
                self->discardables_.apply(names, use);
            }
            if (then)
                then();
        });
}

void KVDocumentContainer::keepAwaitedNamesOf(const KVDocumentContainer& previous)
{
    // The wait as the previous folder holds it: one that waits for every image and asset because
    // its record could not be trusted goes on so here too.
    if (auto failure = previous.discardables_.keepWaitingIn(projectDirectory_ / KVContainerDiscardables::relativePathForAwaitedNames))
        log("Couldn’t keep the names awaited by the document: " + failure->localizedDescription);
}

void KVDocumentContainer::documentWasLoaded()
{
    const std::string document(KVDocumentArchive::relativePathForDocumentJSON);
    const auto record = projectDirectory_ / KVContainerDiscardables::relativePathForAwaitedNames;
    auto names = KVContainerDiscardables::candidates(projectManifestEntries_);
    if (!sources_.wasEmpty(document)) {
        const auto resumed = discardables_.resumeWaiting(record, names);
        if (!resumed.refused.empty())
            log(resumed.refused);
        else if (resumed.awaited)
            log(document + " has named none of the " + std::to_string(resumed.awaited)
                + " images and assets read with an empty one: none of them is marked for cleanup until it names one");
        return;
    }
    // The editor shows an empty file as a new document, and the first save of it would name
    // nothing that the project holds.
    if (!names.empty())
        log(document + " was read empty: no image or asset is marked for cleanup until the document names one of them");
    if (auto failure = discardables_.awaitNames(record, std::move(names)))
        log("Couldn’t keep the names awaited for the next session: " + failure->localizedDescription);
}

} // namespace kx
