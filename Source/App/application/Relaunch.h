// Starting the moved copy of the application after this process has ended. No shell is
// involved: the copy is started at once with one end of a pipe; it waits, before anything
// else, until this process is gone (the pipe reaches its end) and its application id is free
// on the session bus, and then launches as usual. A disk image the old copy ran from is
// detached by the new copy 5 s after its launch, through UDisks2, when the image is still the
// one that was named.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "App/application/ApplicationsFolder.h"

namespace kx {

class Relaunch {
public:
    static constexpr const char* waitVariable = "KX_RELAUNCH_WAIT_FD";
    static constexpr const char* detachVariable = "KX_DETACH_DISK_IMAGE";

    // Starts `executable` in a session of its own; false when it could not be started.
    static bool start(const std::filesystem::path& executable, const std::optional<ApplicationsFolder::DiskImage>& image);

    // First thing in main(): when this process was started by `start`, waits for its
    // predecessor (at most `timeout` seconds for the application id). Takes the variables out
    // of the environment.
    static void waitForPredecessor(const std::string& applicationId, double timeout = 10.0);

    // After the launch: asks UDisks2 to detach the image the predecessor named, 5 s later.
    static void detachDiskImageLater();
    // The image named by the predecessor, if any ("<device>\n<backing file>").
    static std::optional<ApplicationsFolder::DiskImage> pendingDiskImage();
};

} // namespace kx
