// The application's icon on the desktop: installed into the user's hicolor icon theme under
// the application id (the scalable SVG and PNG renderings of it, the 48-pixel one being what
// the icon themes of every desktop look for first, the others for docks and menus
// without an SVG loader), and the default icon of every window we open.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kx {

class ApplicationIcon {
public:
    static const std::vector<int>& pngSizes();

    // "icons/hicolor/scalable/apps/<id>.svg" and "icons/hicolor/<n>x<n>/apps/<id>.png",
    // relative to $XDG_DATA_HOME.
    static std::filesystem::path scalablePath(const std::string& applicationId);
    static std::filesystem::path pngPath(const std::string& applicationId, int size);

    // Writes the icon below `dataHome` without following links planted there, each file
    // atomically and only when it changed; then marks the theme changed so that icon caches
    // look again. Blocking (renders the PNGs): runs on a worker. False when the SVG cannot be
    // read or a file cannot be written.
    static bool install(const std::filesystem::path& dataHome, const std::string& applicationId,
                        const std::filesystem::path& svgFile);
    // Removes what `install` wrote (files only; links and folders stay).
    static void remove(const std::filesystem::path& dataHome, const std::string& applicationId);

    // The default icon of windows: the theme's icon of the application id when the icon
    // theme has one, else the SVG file rendered at the PNG sizes; windows already shown
    // without an icon take it too (GTK gives a default only to windows realized after it).
    // Main thread.
    static void setDefaultWindowIcon(const std::string& applicationId, const std::filesystem::path& svgFile);
};

} // namespace kx
