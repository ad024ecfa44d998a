// The offer, at launch, to move the application into an application folder when it runs
// from somewhere else (Downloads, a disk image, another application's folder). Only our own
// dedicated folder is ever moved: a folder whose name begins with "korvel-x" and that holds
// our Resources/Info.json, or the AppImage file we run from; a program unpacked loose gets no
// offer, so no step can touch a folder of the user's.
//
// The move copies first (into a temporary sibling of the destination) and only then puts the
// copy in place of an older one, which goes to the trash. Where the target folder needs
// administrator rights, one `pkexec` call of the fixed install helper does the copy (one
// prompt). Afterwards the old copy is removed (not on a disk image, not inside another
// application), the moved copy is started once this process has ended, and this process ends.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "App/application/ApplicationsFolder.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

class MoveToApplicationsFolder {
public:
    static constexpr const char* alertSuppressKey = "moveToApplicationsFolderAlertSuppress";

    // What the alert says.
    struct Offer {
        std::string messageText;
        std::string informativeText;
    };
    struct Answer {
        bool move = false;
        bool suppress = false; // the check box "Do not show this message again"
    };

    enum class Outcome { notOffered, declined, cancelled, failed, switchedToRunningCopy, moved };

    // Everything the move reads and does outside itself; `current()` is the real machine.
    struct Environment {
        std::filesystem::path bundlePath;                // the folder of the running executable
        std::optional<std::filesystem::path> appImage;   // $APPIMAGE
        std::string bundleIdentifier;
        std::filesystem::path userApplicationsFolder;    // ~/Applications
        std::filesystem::path localApplicationsFolder;   // /opt
        std::vector<std::filesystem::path> applicationFolders; // every folder that counts as one
        std::vector<std::filesystem::path> downloadsFolders;
        std::filesystem::path mountInfo = "/proc/self/mountinfo";
        std::filesystem::path sysBlock = "/sys/block";
        std::filesystem::path processes = "/proc";
        std::vector<std::string> pkexec = {"pkexec"};
        std::filesystem::path installHelper;             // Resources/korvel-x-install-helper
        UserDefaults* defaults = nullptr;

        // Whether this user may write in a folder (without administrator rights).
        std::function<bool(const std::filesystem::path&)> isWritable;
        std::function<Answer(const Offer&)> ask;
        std::function<void(const std::string& messageText)> showFailure;
        std::function<bool(const std::filesystem::path&)> trash;
        // Starts `executable` once this process has ended (and detaches `image` later).
        std::function<void(const std::filesystem::path& executable, const std::optional<ApplicationsFolder::DiskImage>& image)> relaunch;
        // Brings up the copy that already runs at `executable`.
        std::function<void(const std::filesystem::path& executable)> switchToRunningCopy;
        // Ends the process with status 0.
        std::function<void()> exit;

        static Environment current();
    };

    // Offers the move when it applies and carries it out; the real environment's `exit`
    // ends the process after a move or a switch.
    static Outcome moveIfNecessary(Environment& environment);
    static void moveIfNecessary(); // PFMoveToApplicationsFolderIfNecessary

    // The process of this user whose executable is `executable`, if one runs.
    static std::optional<pid_t> runningCopy(const std::filesystem::path& executable,
                                            const std::filesystem::path& processes = "/proc");
};

} // namespace kx
