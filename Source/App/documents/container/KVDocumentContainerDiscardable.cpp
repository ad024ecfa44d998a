// Discardable items: images and assets the document no longer names.
#include "App/documents/container/KVDocumentContainer.h"

#include "App/documents/container/KVContainerFiles.h"

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
    const std::string record(KVContainerDiscardables::relativePathForAwaitedNames);
    auto kept = KVContainerFiles::readRegularFile(previous.projectDirectory_ / record, KVDocumentArchive::maximumManifestLength);
    if (!kept.data)
        return;
    if (auto failure = KVContainerFiles::replaceFile(projectDirectory_ / record, *kept.data, true))
        log("Couldn’t keep the names awaited by the document: " + failure->localizedDescription);
}

void KVDocumentContainer::documentWasLoaded()
{
    const std::string document(KVDocumentArchive::relativePathForDocumentJSON);
    const auto record = projectDirectory_ / KVContainerDiscardables::relativePathForAwaitedNames;
    auto names = KVContainerDiscardables::candidates(projectManifestEntries_);
    if (!sources_.wasEmpty(document)) {
        if (auto awaited = discardables_.resumeWaiting(record, names))
            log(document + " has named none of the " + std::to_string(awaited)
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
