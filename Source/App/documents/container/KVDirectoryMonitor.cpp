#include "App/documents/container/KVDirectoryMonitor.h"

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib-unix.h>

namespace kx {

namespace fs = std::filesystem;

namespace {

int& watchFault()
{
    static int fault = 0;
    return fault;
}

constexpr std::uint32_t folderEvents = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF
                                       | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// How long one turn of the main loop may spend on reports: each may read and hash a file.
constexpr auto deliveryTurn = std::chrono::milliseconds(4);

} // namespace

void KVDirectoryMonitor::setWatchFaultForTesting(int error)
{
    watchFault() = error;
}

KVDirectoryMonitor::KVDirectoryMonitor(fs::path root, FolderFilter shouldWatch, Handler handler, std::function<void()> lostEvents)
    : root_(std::move(root))
    , shouldWatch_(std::move(shouldWatch))
    , handler_(std::move(handler))
    , lostEvents_(std::move(lostEvents))
    , alive_(std::make_shared<bool>(true))
{
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        lost_ = true;
        return;
    }
    guint id = g_unix_fd_add(
        fd_, G_IO_IN,
        [](gint, GIOCondition, gpointer data) -> gboolean {
            auto* monitor = static_cast<KVDirectoryMonitor*>(data);
            std::shared_ptr<bool> alive = monitor->alive_;
            bool keep = monitor->receive();
            return *alive && keep ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        },
        this);
    source_ = SourceHandle::fromId(id);
    // Files already there are known to the caller; only folders are walked.
    watchTree("", false);
    pending_.clear();
}

KVDirectoryMonitor::~KVDirectoryMonitor()
{
    *alive_ = false;
    source_.remove();
    delivery_.remove();
    if (fd_ >= 0)
        ::close(fd_);
}

std::string KVDirectoryMonitor::join(const std::string& folder, const std::string& name) const
{
    return folder.empty() ? name : folder + "/" + name;
}

void KVDirectoryMonitor::markLost()
{
    bool first = !lost_;
    lost_ = true;
    if (first && lostEvents_)
        lostEvents_();
}

bool KVDirectoryMonitor::addWatch(const std::string& relativeFolder)
{
    int error = watchFault();
    int wd = -1;
    if (!error) {
        wd = ::inotify_add_watch(fd_, (relativeFolder.empty() ? root_ : root_ / relativeFolder).c_str(), folderEvents);
        error = wd < 0 ? errno : 0;
    }
    if (wd < 0) {
        // A folder that went meanwhile has nothing to report; any other failure leaves a blind spot.
        if (error != ENOENT && error != ENOTDIR)
            markLost();
        return false;
    }
    if (auto known = folders_.find(wd); known != folders_.end())
        watches_.erase(known->second);
    folders_[wd] = relativeFolder;
    watches_[relativeFolder] = wd;
    return true;
}

void KVDirectoryMonitor::watchTree(const std::string& relativeFolder, bool reportFiles)
{
    std::vector<std::string> stack{relativeFolder};
    while (!stack.empty()) {
        std::string folder = std::move(stack.back());
        stack.pop_back();
        // Watched before it is listed, so that nothing made meanwhile goes unseen; a folder
        // that cannot be watched is still listed for what it holds now.
        addWatch(folder);
        const fs::path path = folder.empty() ? root_ : root_ / folder;
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        DIR* listing = ::fdopendir(fd);
        if (!listing) {
            ::close(fd);
            continue;
        }
        while (auto* item = ::readdir(listing)) {
            std::string name = item->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = join(folder, name);
            bool isFolder = item->d_type == DT_DIR;
            if (item->d_type == DT_UNKNOWN) {
                struct stat info {};
                isFolder = ::fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
            }
            if (isFolder) {
                if (shouldWatch_(child))
                    stack.push_back(std::move(child));
            } else if (reportFiles) {
                pending_.emplace_back(std::move(child), false);
            }
        }
        ::closedir(listing);
    }
}

void KVDirectoryMonitor::unwatchTree(const std::string& relativeFolder)
{
    const std::string prefix = relativeFolder + "/";
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (it->first == relativeFolder || it->first.starts_with(prefix)) {
            ::inotify_rm_watch(fd_, it->second);
            folders_.erase(it->second);
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
}

void KVDirectoryMonitor::reportWaitingChanges()
{
    if (fd_ >= 0)
        receive(true);
}

bool KVDirectoryMonitor::receive(bool wholly)
{
    alignas(struct inotify_event) char buffer[64 * 1024];
    for (;;) {
        ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                markLost();
                continue;
            }
            auto folder = folders_.find(event->wd);
            if (folder == folders_.end())
                continue;
            if (event->mask & IN_IGNORED) {
                watches_.erase(folder->second);
                folders_.erase(folder);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The root itself went or moved: nothing below it is seen any more.
                if (folder->second.empty())
                    markLost();
                continue;
            }
            if (event->len == 0)
                continue;
            const std::string path = join(folder->second, event->name);
            if (event->mask & IN_ISDIR) {
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                    if (shouldWatch_(path))
                        watchTree(path, true);
                } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                    unwatchTree(path);
                    pending_.emplace_back(path, true);
                }
            } else {
                pending_.emplace_back(path, false);
            }
        }
    }

    for (auto& report : pending_)
        if (queued_.insert(report).second)
            queue_.push_back(std::move(report));
    pending_.clear();
    return deliver(wholly);
}

bool KVDirectoryMonitor::deliver(bool wholly)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + deliveryTurn;
    std::shared_ptr<bool> alive = alive_;
    while (!queue_.empty()) {
        if (!wholly && Clock::now() >= end) {
            if (!delivery_.isActive()) {
                // At the inotify watch's own priority: input and other work of that priority
                // take turns with it, and nothing waits longer than it would have in one turn.
                guint id = g_idle_add_full(
                    G_PRIORITY_DEFAULT,
                    [](gpointer data) -> gboolean {
                        auto* monitor = static_cast<KVDirectoryMonitor*>(data);
                        std::shared_ptr<bool> alive = monitor->alive_;
                        return monitor->deliver(false) && *alive && !monitor->queue_.empty() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
                    },
                    this, nullptr);
                delivery_ = SourceHandle::fromId(id);
            }
            return true;
        }
        auto report = std::move(queue_.front());
        queue_.pop_front();
        queued_.erase(report);
        handler_(report.first, report.second);
        if (!*alive)
            return false;
    }
    return true;
}

} // namespace kx
