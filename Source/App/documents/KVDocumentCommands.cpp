// The project document's alerts, menu commands, server log hook and image callbacks.
#include "App/documents/KVDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/documents/container/KVContainerFiles.h"
#include "App/server/ServerError.h"
#include "App/shell/RKLog.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr auto alertDelay = std::chrono::milliseconds(150);

// An open descriptor that closes itself.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value)
        : fd(value)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int release() { return std::exchange(fd, -1); }
};

} // namespace

// ---- Alerts ----

void KVDocument::makeWindowControllers()
{
    const bool hadWindow = documentWindow() != nullptr;
    PDBaseDocument::makeWindowControllers();
    GtkWindow* window = windowForSheet();
    if (hadWindow || !window)
        return;
    // The first time the window becomes key, the one-time alerts are due.
    windowDidBecomeKeyObserver_ = SignalConnection::connect<void(GtkWindow*, GParamSpec*)>(
        window, "notify::is-active", ifAlive(weakThis(), [](KVDocument& self, GtkWindow* changed, GParamSpec*) {
            if (!gtk_window_is_active(changed))
                return;
            // Not from inside the signal that is being emitted.
            MainQueue::async(ifAlive(self.weakThis(), [](KVDocument& document) { document.windowDidBecomeKeyObserver_.disconnect(); }));
            self.scheduleAlerts();
        }));
}

void KVDocument::scheduleAlerts()
{
    pendingAlerts_.push_back(MainQueue::after(alertDelay, ifAlive(weakThis(), [](KVDocument& self) {
        if (self.isClosed())
            return;
        self.presentMigrationMessageIfNeeded();
        self.presentVersioningMessageIfNeeded();
    })));
    std::erase_if(pendingAlerts_, [](const auto& timer) { return timer->isCancelled(); });
}

void KVDocument::presentMigrationMessageIfNeeded()
{
    if (!migratedDocumentURL_ || fileURL() || !windowForSheet())
        return;
    const fs::path legacy = *std::exchange(migratedDocumentURL_, std::nullopt);
    auto alert = Alert::make();
    alert->setMessageText("The Korvel Classic document \u201C" + legacy.stem().string() + "\u201D was converted to the Korvel X format.");
    alert->setInformativeText("Your designs were imported into this new document, but Korvel Classic code is incompatible and may need to be rewritten.");
    alert->setAlertStyle(Alert::Style::informational);
    alert->addButton("OK");
    alert->addButton("More Info\u2026");
    alert->beginSheetModal(windowForSheet(), [](Alert::ModalResponse response) {
        if (response == Alert::secondButtonReturn)
            Workspace::shared().openURL(classicDocumentsURL);
    });
}

void KVDocument::presentVersioningMessageIfNeeded()
{
    if (!wantsVersioningCheck_ || !container_->projectDirectoryIsOrigin() || !windowForSheet())
        return;
    wantsVersioningCheck_ = false;
    std::string typeName = fileType();
    if (auto* controller = DocumentControllerBase::shared())
        typeName = controller->displayNameForType(fileType());
    std::error_code ec;
    for (fs::path directory = container_->projectDirectory();; directory = directory.parent_path()) {
        if (fs::exists(fs::symlink_status(directory / ".git", ec)))
            return;
        if (directory.empty() || directory == "/" || directory == directory.parent_path())
            break;
    }
    auto alert = Alert::make();
    alert->setMessageText("The document \u201C" + displayName() + "\u201D uses the " + typeName
                          + " format, but doesn\u2019t appear to be under version control.");
    alert->setInformativeText("This format is intended for collaboration using Git, which will also supply versioning to avoid "
                              "losing any changes. To see changes made by others, close and re-open the document.");
    alert->setAlertStyle(Alert::Style::informational);
    alert->beginSheetModal(windowForSheet(), [](Alert::ModalResponse) { });
}

// ---- The project server ----

void KVDocument::serverControllerDidReceiveLog(const Notification& notification)
{
    if (auto record = ServerError::fromLogNotification(notification))
        container_->logger().log(LogMessage{record->data, record->type, std::nullopt});
}

void KVDocument::updateLibraryVersionMenu(NativeMenu& menu)
{
    const ServerController* server = serverController();
    const auto* state = server && server->state() ? &*server->state() : nullptr;
    if (!state || !state->availableLibraryVersions) {
        auto none = NativeMenuItem::make("\u2014");
        menu.addItem(none);
        return;
    }
    bool builtInListed = false;
    const auto& versions = *state->availableLibraryVersions;
    for (auto version = versions.rbegin(); version != versions.rend(); ++version) {
        const bool builtIn = state->builtInLibraryVersion && *version == *state->builtInLibraryVersion;
        if (builtIn && builtInListed)
            continue;
        auto item = NativeMenuItem::make(builtIn ? "Built-In (" + *version + ")" : *version, "installKorvelLibrary:");
        item->setTarget(this);
        item->setRepresentedObject(*version);
        item->setState(state->currentLibraryVersion && *version == *state->currentLibraryVersion ? NativeMenuItem::State::on
                                                                                                  : NativeMenuItem::State::off);
        if (builtIn) {
            builtInListed = true;
            menu.insertItem(NativeMenuItem::separatorItem(), 0);
            menu.insertItem(item, 0);
        } else {
            menu.addItem(item);
        }
    }
}

void KVDocument::installKorvelLibrary(Sender sender)
{
    const std::string* version = nullptr;
    if (NativeMenuItem* item = sender ? sender->asMenuItem() : nullptr)
        version = std::any_cast<std::string>(&item->representedObject());
    if (!version) {
        Workspace::shared().beep();
        return;
    }
    if (auto* server = serverController())
        server->installKorvelLibrary(*version);
}

void KVDocument::showContainerInFinder()
{
    if (!container_->isValid() && container_ == KVDocumentContainer::placeholder())
        return;
    std::error_code ec;
    const fs::path readme = container_->projectDirectory() / std::string(KVDocumentArchive::relativePathForReadme);
    if (fs::exists(readme, ec))
        Workspace::shared().revealFile(readme);
    else if (fs::exists(container_->projectDirectory(), ec))
        Workspace::shared().revealFile(container_->projectDirectory());
}

void KVDocument::showProjectLog()
{
    const fs::path log = container_->projectDirectory() / std::string(KVDocumentArchive::relativePathForProjectLog);
    std::error_code ec;
    const bool written = fs::is_regular_file(fs::symlink_status(log, ec));
    gchar* uri = written ? g_filename_to_uri(log.c_str(), nullptr, nullptr) : nullptr;
    const bool opened = uri && Workspace::shared().openURL(uri);
    g_free(uri);
    if (opened)
        return;
    Workspace::shared().beep();
    // Many desktops make no sound: the user learns why nothing opened, and where the log is.
    auto alert = Alert::make();
    alert->setMessageText("The project log cannot be shown.");
    alert->setInformativeText(written ? "No program on this computer opens log files. The log is the file \u201C"
                                            + log.filename().string() + "\u201D in the folder \u201C"
                                            + log.parent_path().string() + "\u201D."
                                      : "This project has not written anything to its log yet.");
    alert->setAlertStyle(Alert::Style::informational);
    alert->beginSheetModal(windowForSheet(), [](Alert::ModalResponse) {});
}

// ---- Images and assets ----

std::optional<std::string> KVDocument::nimbetDocumentDidReceiveImageData(const std::string& data)
{
    takeWorkingCopyOfGoneFolder();
    // A closed document, or one whose read failed, has nowhere to put it.
    if (!container_->isValid())
        return std::nullopt;
    try {
        return container_->addImage(data);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> KVDocument::nimbetDocumentDidReceiveAssetData(const std::string& data, const std::string& preferredName)
{
    takeWorkingCopyOfGoneFolder();
    if (!container_->isValid())
        return std::nullopt;
    try {
        return container_->addAsset(data, preferredName, 0);
    } catch (...) {
        return std::nullopt;
    }
}

int KVDocument::openPastedImage(const fs::path& url)
{
    if (!url.is_absolute() || url.lexically_normal() != url)
        return -1;
    const std::string name = url.filename().string();
    if (!KVContainerFiles::isPlainFileName(name) || name.starts_with('.'))
        return -1;
    const fs::path folder = url.parent_path();
    std::shared_ptr<KVDocumentContainer> owner;
    for (const auto& candidate : KVDocumentContainer::allInstances())
        if (candidate->isValid() && (candidate->projectDirectory() / std::string(KVDocumentArchive::relativePathForImages)).lexically_normal() == folder)
            owner = candidate;
    if (!owner)
        return -1;
    // Every step below the project folder is opened without following a link.
    Descriptor project(::open(owner->projectDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (project.fd < 0)
        return -1;
    Descriptor design(::openat(project.fd, "design", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (design.fd < 0)
        return -1;
    Descriptor images(::openat(design.fd, "images", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (images.fd < 0)
        return -1;
    Descriptor file(::openat(images.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return file.release();
}

void KVDocument::nimbetReadImagesFromPasteboard(const std::map<std::string, fs::path>& images)
{
    takeWorkingCopyOfGoneFolder();
    for (const auto& [name, url] : images) {
        if (!container_->isValid())
            return;
        Descriptor source(openPastedImage(url));
        if (source.fd < 0) {
            RKLog("Not pasting an image that is not a file of an open project's images", RKLogKind::general);
            continue;
        }
        try {
            container_->addImage(name, source.fd, url);
        } catch (...) {
            // That image is skipped; the others still come.
        }
    }
}

} // namespace kx
