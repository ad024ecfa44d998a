// The facts about where the application runs that decide whether it offers to move itself:
// what counts as our dedicated folder (its "bundle"), as an application folder, as another
// application's folder around ours, and as a disk image (a loop device backed by an image
// file). Paths are compared by whole components. Nothing here changes anything on disk.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kx {

class ApplicationsFolder {
public:
    // A loop device and the image file behind it.
    struct DiskImage {
        std::string device;                // "/dev/loop3"
        std::filesystem::path backingFile; // the image
        friend bool operator==(const DiskImage&, const DiskImage&) = default;
    };

    // One line of /proc/self/mountinfo.
    struct Mount {
        std::filesystem::path mountPoint;
        std::string fileSystemType;
        std::string source;
    };

    // The name our dedicated folder (and an image file of us) begins with.
    static constexpr const char* bundleNamePrefix = "korvel-x";

    // True when `path` equals `folder` or lies inside it, component by component ("/optx" is
    // not inside "/opt"). Both are taken as given, not resolved.
    static bool beginsWithPath(const std::filesystem::path& path, const std::filesystem::path& folder);

    // Whether `folder` holds Resources/Info.json (of any application).
    static bool holdsApplication(const std::filesystem::path& folder);
    // The bundle identifier of the application in `folder`, nullopt when none.
    static std::optional<std::string> bundleIdentifier(const std::filesystem::path& folder);
    // Ours: the name begins with "korvel-x" and Resources/Info.json carries `identifier`.
    static bool isOurBundle(const std::filesystem::path& folder, const std::string& identifier);
    // A name that begins with "korvel-x" (any case).
    static bool hasOurName(const std::filesystem::path& path);

    // Some folder around `item` (its parent and up) holds an application: we lie inside
    // another application's folder.
    static bool isNested(const std::filesystem::path& item);
    // Inside one of `applicationFolders`, or under a folder named "Applications".
    static bool isInApplicationsFolder(const std::filesystem::path& item,
                                       const std::vector<std::filesystem::path>& applicationFolders);
    // Holds at least one application: a folder with Resources/Info.json or an AppImage file.
    static bool holdsAnyApplication(const std::filesystem::path& folder);

    // The mounts of `mountInfoText`; lines that do not parse are skipped.
    static std::vector<Mount> parseMountInfo(const std::string& mountInfoText);
    // The mount that holds `path` (the longest mount point above it).
    static std::optional<Mount> mountHolding(const std::filesystem::path& path, const std::vector<Mount>& mounts);
    // The disk image whose file system holds `path`; nullopt on any other file system
    // (including network and FUSE mounts, which are never ours to detach).
    static std::optional<DiskImage> diskImageHolding(const std::filesystem::path& path,
                                                     const std::filesystem::path& mountInfo = "/proc/self/mountinfo",
                                                     const std::filesystem::path& sysBlock = "/sys/block");
};

} // namespace kx
