// Images loaded by name from a folder of the application's resources (Resources/images):
// "<name>.svg" or else "<name>.png". Each is read once and kept. Main thread only.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class NamedImages {
public:
    // The images of the application's bundle.
    static NamedImages& shared();
    explicit NamedImages(std::filesystem::path folder);

    // The image at its own size; nullptr when there is none (or `name` is not a plain name).
    GdkPixbuf* imageNamed(const std::string& name);
    // The image drawn at `width` × `height` pixels (a vector image stays sharp); nullptr when
    // there is none or the size is not above 0.
    GdkPixbuf* imageNamed(const std::string& name, int width, int height);

    // Names are plain file names without extension: no folders, nothing hidden.
    static bool isPlainName(const std::string& name);

private:
    GdkPixbuf* load(const std::string& name, int width, int height);

    std::filesystem::path folder_;
    std::map<std::pair<std::string, std::pair<int, int>>, GObjectRef<GdkPixbuf>> images_;
};

} // namespace kx
