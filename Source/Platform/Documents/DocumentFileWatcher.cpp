#include "Platform/Documents/DocumentFileWatcher.h"

#include <optional>

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

} // namespace

DocumentFileWatcher::DocumentFileWatcher(std::filesystem::path path, Moved moved)
    : path_(std::move(path))
    , moved_(std::move(moved))
{
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
}

void DocumentFileWatcher::changed(GFile* file, GFile* otherFile, GFileMonitorEvent event)
{
    if (event != G_FILE_MONITOR_EVENT_RENAMED && event != G_FILE_MONITOR_EVENT_MOVED_OUT)
        return;
    // Only the document leaving its path is a move; a file arriving there replaced it.
    auto from = pathOf(file);
    auto to = pathOf(otherFile);
    if (!from || *from != path_ || !to || *to == path_)
        return;
    // The handler may replace this watcher: it runs last, with a copy.
    auto moved = moved_;
    moved(*to);
}

} // namespace kx
