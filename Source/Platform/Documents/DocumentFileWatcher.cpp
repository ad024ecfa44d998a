#include "Platform/Documents/DocumentFileWatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace {

std::optional<std::filesystem::path> pathOf(GFile* file)
{
    if (!file)
        return std::nullopt;
    char* path = g_file_get_path(file);
    if (!path)
        return std::nullopt;
    std::filesystem::path result(path);
    g_free(path);
    return result;
}

bool sameItem(int descriptor, const std::filesystem::path& path)
{
    struct stat held {}, named {};
    return descriptor >= 0 && ::fstat(descriptor, &held) == 0 && ::stat(path.c_str(), &named) == 0
           && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

DocumentFileWatcher::DocumentFileWatcher(std::filesystem::path path, Moved moved, Removed removed)
    : path_(std::move(path))
    , moved_(std::move(moved))
    , removed_(std::move(removed))
{
    holdItem();
    auto file = GObjectRef<GFile>::adopt(g_file_new_for_path(path_.c_str()));
    // A file monitor watches the item in its folder, also when the item is a folder: its
    // renames are what matters, not what happens inside.
    monitor_ = GObjectRef<GFileMonitor>::adopt(g_file_monitor_file(file.get(), G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr));
    if (!monitor_)
        return;
    connection_ = SignalConnection::connect<void(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent)>(
        monitor_.get(), "changed", [this](GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event) {
            changed(file, other, event);
        });
}

DocumentFileWatcher::~DocumentFileWatcher()
{
    connection_.disconnect();
    if (monitor_)
        g_file_monitor_cancel(monitor_.get());
    closeAside(item_);
}

void DocumentFileWatcher::holdItem()
{
    closeAside(item_);
    item_ = ::open(path_.c_str(), O_PATH | O_CLOEXEC);
}

void DocumentFileWatcher::closeAside(int descriptor)
{
    // The descriptor may hold the last reference to a file that a save replaced: closing it
    // frees that file's cached pages in the kernel, tens of milliseconds for a large package.
    if (descriptor >= 0)
        ThreadPool::global().async([descriptor] { ::close(descriptor); });
}

bool DocumentFileWatcher::isInTrash(const std::filesystem::path& path)
{
    // $XDG_DATA_HOME/Trash/files/… and a volume's .Trash-UID/files/… or .Trash/UID/files/….
    for (auto it = path.begin(); it != path.end(); ++it) {
        const std::string component = it->string();
        auto next = std::next(it);
        if ((component == "Trash" || component.starts_with(".Trash-")) && next != path.end() && *next == "files")
            return true;
        if (component == ".Trash" && next != path.end() && std::next(next) != path.end() && *std::next(next) == "files")
            return true;
    }
    return false;
}

bool DocumentFileWatcher::holdsWhatStandsAtPath()
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path_, error)))
        return false;
    // Something stands at the path (a save of ours renamed onto it, another program's file):
    // that is the document's file from now on, and nothing left.
    if (!sameItem(item_, path_))
        holdItem();
    return true;
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::departureNow()
{
    if (!monitor_ || holdsWhatStandsAtPath())
        return std::nullopt;
    return departure(std::nullopt);
}

void DocumentFileWatcher::changed(GFile* file, GFile* otherFile, GFileMonitorEvent event)
{
    if (holdsWhatStandsAtPath())
        return;
    if (event != G_FILE_MONITOR_EVENT_RENAMED && event != G_FILE_MONITOR_EVENT_MOVED_OUT && event != G_FILE_MONITOR_EVENT_DELETED)
        return;
    auto from = pathOf(file);
    if (!from || *from != path_)
        return;
    auto gone = departure(pathOf(otherFile));
    if (!gone)
        return;
    // The handlers may replace this watcher: they run last, with a copy.
    if (gone->movedTo) {
        auto moved = moved_;
        moved(*gone->movedTo);
    } else if (removed_) {
        auto removed = removed_;
        removed(*gone);
    }
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::departure(const std::optional<std::filesystem::path>& reported) const
{
    // Where the item went: the held descriptor knows, within the file system; the monitor may.
    std::optional<std::filesystem::path> to;
    bool deleted = false;
    if (item_ >= 0) {
        char target[4096];
        const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(item_)).c_str(), target, sizeof target - 1);
        if (length > 0) {
            std::string text(target, std::size_t(length));
            struct stat held {};
            deleted = text.ends_with(" (deleted)") || (::fstat(item_, &held) == 0 && held.st_nlink == 0);
            if (!deleted)
                to = std::filesystem::path(text);
        }
    }
    if (!to && !deleted)
        to = reported;
    if (deleted)
        return Departure{};
    if (!to || *to == path_)
        return std::nullopt;
    if (isInTrash(*to))
        return Departure{std::nullopt, *to};
    return Departure{*to, std::nullopt};
}

} // namespace kx
