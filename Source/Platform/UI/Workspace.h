// The desktop around the application: opening links, showing files, the beep.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace kx {

class Workspace {
public:
    static Workspace& shared();

    // Opens `url` in the desktop's default handler for its scheme; false when none took it.
    bool openURL(const std::string& url);
    // Shows `file` selected in the file manager (org.freedesktop.FileManager1.ShowItems),
    // falling back to opening the folder that holds it.
    void revealFile(const std::filesystem::path& file);
    // The display's bell.
    void beep();

    // Tests replace the desktop opener to see what would have been opened.
    using URLOpener = std::function<bool(const std::string& url)>;
    void setURLOpenerForTesting(URLOpener opener);

private:
    URLOpener opener_;
};

} // namespace kx
