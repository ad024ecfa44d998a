// The backup cycle: the editor's pending data written, then a backup when the backed-up files
// changed, every interval for as long as the container is valid.
#include "App/documents/container/KVDocumentContainer.h"

#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

void KVDocumentContainer::scheduleBackup()
{
    if (!isValid_)
        return;
    MainQueue::after(KVContainerBackups::interval(), ifAlive(weak_from_this(), [](KVDocumentContainer& self) {
                             if (self.isValid_)
                                 self.backup();
                         }));
}

void KVDocumentContainer::backup(std::function<void()> completion)
{
    writeChanges([self = shared_from_this(), completion = std::move(completion)](std::optional<KVDocumentError>) mutable {
        // A folder gone to the Trash or away (also while the changes were written) gets no
        // backups written into it.
        if (self->projectDirectoryIsGone_) {
            if (completion)
                completion();
            return;
        }
        auto view = KVContainerBackups::view(*self->projectDirectoryArchive_);
        KVContainerBackups::list(view, [self, view, completion = std::move(completion)](KVContainerBackups::Listing listing) mutable {
            self->backupListed(std::move(view), std::move(listing), std::move(completion));
        });
    });
}

void KVDocumentContainer::backupListed(std::shared_ptr<KVDocumentArchive> view, KVContainerBackups::Listing listing,
                                       std::function<void()> completion)
{
    // Closed while the folder was walked: its folder is no longer this container's to back up.
    if (!isValid_) {
        if (completion)
            completion();
        return;
    }
    if (listing.error)
        log("Couldn’t back up: " + *listing.error);
    // Each listed file with the entry the container knows for it.
    ManifestEntries state;
    for (auto& path : listing.paths) {
        auto entry = projectManifestEntries_.find(path);
        const auto known = entry != projectManifestEntries_.end() ? entry->second : KVDocumentArchive::Manifest::Entry::unknown();
        state.emplace(std::move(path), known);
    }
    // Recorded now, also for a failed attempt: an unchanged project is not tried again.
    if (!backups_.recordAttempt(std::move(state))) {
        scheduleBackup();
        if (completion)
            completion();
        return;
    }
    const auto date = DateFormat::Clock::now();
    log("Backing up to " + (backups_.folder() / (KVContainerBackups::backupName(date) + ".zip")).string());
    // The zip is written off the main loop; the outcome comes back to it.
    backups_.write(std::move(view), date, [self = shared_from_this(), completion = std::move(completion)](std::optional<std::string> error) {
        if (error)
            self->log("Couldn’t back up: " + *error);
        self->scheduleBackup();
        if (completion)
            completion();
    });
}

} // namespace kx
