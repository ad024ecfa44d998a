// Watches one document file or folder for being renamed or moved (a GFileMonitor with move
// tracking on the item itself). A rename within its folder reports the new path; a move out of
// the folder reports it when the monitor learns where to. Something renamed onto the path (a
// save of ours, another program replacing the file) is no move of the document and is not
// reported. Main thread only.
#pragma once

#include <filesystem>
#include <functional>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class DocumentFileWatcher {
public:
    using Moved = std::function<void(const std::filesystem::path& to)>;

    // Nothing is watched when the monitor cannot be made (the error is ignored: a document
    // whose file is not watched still saves safely, it only misses renames).
    DocumentFileWatcher(std::filesystem::path path, Moved moved);
    ~DocumentFileWatcher();
    DocumentFileWatcher(const DocumentFileWatcher&) = delete;
    DocumentFileWatcher& operator=(const DocumentFileWatcher&) = delete;

    const std::filesystem::path& path() const { return path_; }
    bool isWatching() const { return bool(monitor_); }

private:
    void changed(GFile* file, GFile* otherFile, GFileMonitorEvent event);

    std::filesystem::path path_;
    Moved moved_;
    GObjectRef<GFileMonitor> monitor_;
    SignalConnection connection_;
};

} // namespace kx
