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

void KVDocumentContainer::documentWasLoaded()
{
    const std::string document(KVDocumentArchive::relativePathForDocumentJSON);
    if (!sources_.wasEmpty(document)) {
        discardables_.awaitNames({});
        return;
    }
    // The editor shows an empty file as a new document, and the first save of it would name
    // nothing that the project holds.
    auto names = KVContainerDiscardables::candidates(projectManifestEntries_);
    if (!names.empty())
        log(document + " was read empty: no image or asset is marked for cleanup until the document names one of them");
    discardables_.awaitNames(std::move(names));
}

} // namespace kx
