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

} // namespace kx
