// Reading a package into the working container, and the document-version check.
#include "App/documents/KVDocument.h"

#include <cstdlib>

#include "App/archive/KVDocumentArchiveError.h"
#include "App/documents/DocumentController.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// The document JSON is read whole for its version; a larger one is no document of ours.
constexpr std::size_t maximumDocumentLength = std::size_t(1) << 31;

} // namespace

void KVDocument::checkDocumentVersion(const KVDocumentArchive& archive) const
{
    std::string content;
    try {
        auto reader = archive.backing()->dataReader(std::string(KVDocumentArchive::relativePathForDocumentJSON));
        for (auto chunk = reader->read(); !chunk.empty(); chunk = reader->read()) {
            if (content.size() + chunk.size() > maximumDocumentLength)
                throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);
            content.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        }
    } catch (const KVDocumentError&) {
        throw;
    } catch (const std::exception&) {
        // A document JSON that is missing or cannot be read is the editor's to judge.
        return;
    }
    if (content.empty())
        return;
    auto value = nlohmann::json::parse(content, nullptr, false);
    if (!value.is_object())
        throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);
    auto version = value.find("version");
    // An integer, or a whole double (the codec's rule); nothing else is a version.
    std::int64_t number = 0;
    if (version == value.end())
        throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);
    if (version->is_number_integer()) {
        number = version->is_number_unsigned() && version->get<std::uint64_t>() > std::uint64_t(INT64_MAX)
            ? INT64_MAX
            : version->get<std::int64_t>();
    } else if (version->is_number_float()) {
        const double value = version->get<double>();
        if (value != value || value != double(std::int64_t(value)) || value > 9.2e18 || value < -9.2e18)
            throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);
        number = std::int64_t(value);
    } else {
        throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);
    }
    if (number < 0)
        throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);
    const auto& globals = AppInfo::current()->nimbetGlobals();
    const std::int64_t supported = globals ? globals->documentVersion : 0;
    if (number > supported)
        throw KVDocumentError(KVDocumentError::Code::documentVersionTooNew);
}

std::shared_ptr<KVDocumentContainer> KVDocument::makeContainer(std::shared_ptr<KVDocumentArchive>& archive, bool isFolder, const Path& url)
{
    try {
        if (isFolder) {
            auto container = KVDocumentContainer::make(archive);
            return container;
        }
        return KVDocumentContainer::make(archive->uuid(), false, url);
    } catch (const KVDocumentError& error) {
        // A container of this uuid belongs to another file (a copied package), or is in use
        // in this process (a second document from one template or example): this document
        // gets an identity of its own. Nothing is written to the package for that.
        if (error.code() != KVDocumentError::Code::containerAlreadyExistsForOtherOrigin
            && error.code() != KVDocumentError::Code::containerAlreadyExists)
            throw;
        const std::string uuid = Uuid::make();
        archive = std::make_shared<KVDocumentArchive>(uuid, KVDocumentArchive::Manifest{uuid, std::nullopt}, archive->backing());
        RKLog("The document gets a new identity: its identity belongs to another open document or file", RKLogKind::general);
        return KVDocumentContainer::make(uuid, false, std::nullopt);
    }
}

void KVDocument::read(const Path& url, const std::string& type)
{
    if (!MainQueue::isMainThread()) {
        RKLog("KVDocument: read off the main thread", RKLogKind::general);
        std::abort();
    }
    if (isPreventingChangedByOtherAppErrorOnSave_)
        return;
    if (isReverting_ && container_->projectDirectoryIsOrigin())
        throw KVDocumentError(KVDocumentError::Code::archiveIsContainer);
    const bool firstRead = std::exchange(isAwaitingInitialRead_, false);
    const bool isFolder = type == projectFolderType && !isReadingTemplate_;
    // A folder is worked in where it is: only a project's, never an arbitrary one (the home
    // folder) that would get a lock, a log and caches.
    if (isFolder && !DocumentController::isProjectFolder(url))
        throw KVDocumentError(KVDocumentError::Code::unsupportedDocument);

    auto archive = std::make_shared<KVDocumentArchive>(url, type, false, std::nullopt, !isFolder);
    if (firstRead)
        checkDocumentVersion(*archive);

    std::shared_ptr<KVDocumentContainer> container;
    const bool reuse = fileURL() && *fileURL() == url && container_->uuid() == archive->uuid() && container_->isValid();
    if (isFolder && !reuse && !isReverting_ && resumeHandOver(url, archive))
        return;
    if (reuse) {
        container = container_;
    } else {
        container = makeContainer(archive, isFolder, url);
        if (isFolder)
            wantsVersioningCheck_ = firstRead;
        container->addDataSource(documentJSONSource(),
                                 std::string(KVDocumentArchive::relativePathForDocumentJSON));
    }
    const auto relation = isReverting_ || isReadingTemplate_ ? KVDocumentContainer::ArchiveRelation::copy()
                                                             : KVDocumentContainer::ArchiveRelation::origin(isRestoringDraft_);
    try {
        container->read(*archive, relation);
    } catch (...) {
        if (container != container_) {
            try {
                container->deleteContainer(false);
            } catch (...) {
            }
        }
        throw;
    }
    if (!isRestoringDraft_ && !isReadingTemplate_)
        fileArchive_ = archive;
    setContainer(container);
    didChangeContainer();
}

} // namespace kx
