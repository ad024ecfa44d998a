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
        auto view = KVContainerBackups::view(*self->projectDirectoryArchive_);
        ManifestEntries state;
        try {
            view->backing()->forEach([&](const std::string& path, KVDataReader&) {
                auto entry = self->projectManifestEntries_.find(path);
                state.emplace(path, entry != self->projectManifestEntries_.end() ? entry->second : KVDocumentArchive::Manifest::Entry::unknown());
            });
        } catch (const std::exception& error) {
            self->log(std::string("Couldn’t back up: ") + error.what());
        }
        // Recorded now, also for a failed attempt: an unchanged project is not tried again.
        if (!self->backups_.recordAttempt(std::move(state))) {
            self->scheduleBackup();
            if (completion)
                completion();
            return;
        }
        const auto date = DateFormat::Clock::now();
        self->log("Backing up to " + (self->backups_.folder() / (KVContainerBackups::backupName(date) + ".zip")).string());
        // The zip is written off the main loop; the outcome comes back to it.
        self->backups_.write(view, date, [self, completion = std::move(completion)](std::optional<std::string> error) {
            if (error)
                self->log("Couldn’t back up: " + *error);
            self->scheduleBackup();
            if (completion)
                completion();
        });
    });
}

} // namespace kx
