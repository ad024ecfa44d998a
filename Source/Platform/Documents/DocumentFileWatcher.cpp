#include "Platform/Documents/DocumentFileWatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> pathOf(GFile* file)
{
    if (!file)
        return std::nullopt;
    char* path = g_file_get_path(file);
    if (!path)
        return std::nullopt;
    fs::path result(path);
    g_free(path);
    return result;
}

bool sameItem(int descriptor, const fs::path& path)
{
    struct stat held {}, named {};
    return descriptor >= 0 && ::fstat(descriptor, &held) == 0 && ::stat(path.c_str(), &named) == 0
           && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool isRegularFile(int descriptor)
{
    struct stat held {};
    return descriptor >= 0 && ::fstat(descriptor, &held) == 0 && S_ISREG(held.st_mode);
}

} // namespace

DocumentFileWatcher::DocumentFileWatcher(fs::path path, Moved moved, Removed removed)
    : path_(std::move(path))
    , moved_(std::move(moved))
    , removed_(std::move(removed))
{
    holdItem();
    monitor_ = monitor(path_, connection_);
}

DocumentFileWatcher::~DocumentFileWatcher()
{
    for (auto* watch : {&connection_, &trashConnection_})
        watch->disconnect();
    for (auto* monitor : {&monitor_, &trashMonitor_})
        if (*monitor)
            g_file_monitor_cancel(monitor->get());
    closeAside(item_);
}

GObjectRef<GFileMonitor> DocumentFileWatcher::monitor(const fs::path& path, SignalConnection& connection)
{
    auto file = GObjectRef<GFile>::adopt(g_file_new_for_path(path.c_str()));
    // A file monitor watches the item in its folder, also when the item is a folder: its
    // renames are what matters, not what happens inside.
    auto monitor = GObjectRef<GFileMonitor>::adopt(g_file_monitor_file(file.get(), G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr));
    if (monitor)
        connection = SignalConnection::connect<void(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent)>(
            monitor.get(), "changed", [this](GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event) {
                changed(file, other, event);
            });
    return monitor;
}

void DocumentFileWatcher::holdItem()
{
    closeAside(item_);
    item_ = ::open(path_.c_str(), O_PATH | O_CLOEXEC);
}

FileDescriptor DocumentFileWatcher::openHeldFolder() const
{
    if (item_ < 0)
        return FileDescriptor();
    return FileDescriptor(::openat(item_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void DocumentFileWatcher::closeAside(int descriptor)
{
    // The descriptor may hold the last reference to a file that a save replaced: closing it
    // frees that file's cached pages in the kernel, tens of milliseconds for a large package.
    if (descriptor >= 0)
        ThreadPool::global().async([descriptor] { ::close(descriptor); });
}

bool DocumentFileWatcher::isInTrash(const fs::path& path)
{
    const fs::path normal = path.lexically_normal();
    // The home's Trash: where GLib found the data folder at the start, and where the environment
    // puts it now.
    std::vector<fs::path> homeTrashes{(fs::path(g_get_user_data_dir()) / "Trash").lexically_normal()};
    if (const char* data = g_getenv("XDG_DATA_HOME"); data && fs::path(data).is_absolute())
        homeTrashes.push_back((fs::path(data) / "Trash").lexically_normal());
    std::vector<std::string> components;
    for (const auto& component : normal)
        components.push_back(component.string());
    const auto isNumber = [](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    fs::path prefix;
    // A root counts only with something beneath it: the Trash folder itself is no item in it. A
    // folder merely named Trash elsewhere is none, whatever it holds.
    for (std::size_t index = 0; index + 1 < components.size(); ++index) {
        const std::string& component = components[index];
        prefix /= component;
        const std::string& next = components[index + 1];
        if (component == "Trash") {
            // Ours, or another home's at its usual place.
            if (std::ranges::find(homeTrashes, prefix) != homeTrashes.end()
                || (index >= 2 && components[index - 2] == ".local" && components[index - 1] == "share"))
                return true;
        } else if (component.starts_with(".Trash-") && isNumber(component.substr(7))) {
            return true;
        } else if (component == ".Trash" && isNumber(next) && index + 2 < components.size()) {
            return true;
        }
    }
    return false;
}

void DocumentFileWatcher::ownWriteEnded()
{
    if (ownWrites_ > 0)
        --ownWrites_;
    if (ownWrites_ > 0 || state_ != State::atPath)
        return;
    const Place place = heldPlace();
    if (place.held && !place.deleted && place.path && !sameItem(item_, path_))
        return;
    holdItem();
}

bool DocumentFileWatcher::holdsItemAt(const fs::path& path) const
{
    return sameItem(item_, path);
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::takeDepartureNow()
{
    if (!monitor_)
        return std::nullopt;
    return takeDeparture(std::nullopt);
}

void DocumentFileWatcher::changed(GFile* file, GFile* otherFile, GFileMonitorEvent event)
{
    std::optional<fs::path> reported;
    if ((event == G_FILE_MONITOR_EVENT_RENAMED || event == G_FILE_MONITOR_EVENT_MOVED_OUT) && pathOf(file) == path_)
        reported = pathOf(otherFile);
    auto gone = takeDeparture(reported);
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

DocumentFileWatcher::Place DocumentFileWatcher::heldPlace() const
{
    Place place;
    if (item_ < 0)
        return place;
    place.held = true;
    char target[4096];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(item_)).c_str(), target, sizeof target - 1);
    if (length <= 0)
        return place;
    std::string text(target, std::size_t(length));
    struct stat held {};
    place.deleted = text.ends_with(" (deleted)") || (::fstat(item_, &held) == 0 && held.st_nlink == 0);
    if (!place.deleted)
        place.path = fs::path(text);
    return place;
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::takeDeparture(const std::optional<fs::path>& reported)
{
    // A save of ours is at work at the path: it looks when it ended.
    if (ownWrites_ > 0)
        return std::nullopt;
    switch (state_) {
    case State::atPath:
        return takeDepartureFromPath(reported);
    case State::inTrash:
        return takeWayOutOfTrash();
    case State::deleted:
        break;
    }
    return Departure{};
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::takeDepartureFromPath(const std::optional<fs::path>& reported)
{
    const Place place = heldPlace();
    std::error_code ec;
    const bool standing = fs::exists(fs::symlink_status(path_, ec));
    if (!place.held) {
        // Nothing held (the item was not there when the watch began): what comes is taken;
        // what leaves is where the monitor says.
        if (standing) {
            holdItem();
            return std::nullopt;
        }
        return reported ? takeArrival(*reported) : std::nullopt;
    }
    if (sameItem(item_, path_))
        return std::nullopt;
    if (!place.deleted)
        return place.path ? takeArrival(*place.path) : std::nullopt;
    // The held item is no more. A file renamed over it replaced it: that one is the document's
    // (whose version a save checks first). Anything else took the place of one deleted.
    if (standing && isRegularFile(item_) && fs::is_regular_file(fs::status(path_, ec))) {
        holdItem();
        return std::nullopt;
    }
    state_ = State::deleted;
    return Departure{};
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::takeWayOutOfTrash()
{
    // Only the item itself comes back out; whatever appears at its old path meanwhile is
    // something else.
    const Place place = heldPlace();
    if (place.deleted) {
        state_ = State::deleted;
        return Departure{};
    }
    if (!place.path)
        return Departure{std::nullopt, trashedTo_};
    if (*place.path == path_)
        return Departure{path_, std::nullopt};
    return takeArrival(*place.path);
}

std::optional<DocumentFileWatcher::Departure> DocumentFileWatcher::takeArrival(const fs::path& to)
{
    if (to == path_)
        return std::nullopt;
    if (!isInTrash(to))
        return Departure{to, std::nullopt};
    if (state_ != State::inTrash || to != trashedTo_)
        watchInTrash(to);
    state_ = State::inTrash;
    return Departure{std::nullopt, to};
}

void DocumentFileWatcher::watchInTrash(const fs::path& trashedTo)
{
    trashedTo_ = trashedTo;
    trashConnection_.disconnect();
    if (trashMonitor_)
        g_file_monitor_cancel(trashMonitor_.get());
    trashMonitor_ = monitor(trashedTo, trashConnection_);
}

} // namespace kx
