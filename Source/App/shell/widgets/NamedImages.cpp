#include "App/shell/widgets/NamedImages.h"

#include <system_error>

#include "Platform/Foundation/Bundle.h"

namespace kx {

NamedImages& NamedImages::shared()
{
    static NamedImages images(Bundle::main().resourcePath() / "images");
    return images;
}

NamedImages::NamedImages(std::filesystem::path folder)
    : folder_(std::move(folder))
{
}

bool NamedImages::isPlainName(const std::string& name)
{
    if (name.empty() || name.front() == '.' || name.size() > 200)
        return false;
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c < 0x20)
            return false;
    }
    return true;
}

GdkPixbuf* NamedImages::imageNamed(const std::string& name)
{
    return load(name, -1, -1);
}

GdkPixbuf* NamedImages::imageNamed(const std::string& name, int width, int height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    return load(name, width, height);
}

GdkPixbuf* NamedImages::load(const std::string& name, int width, int height)
{
    if (!isPlainName(name))
        return nullptr;
    const auto key = std::make_pair(name, std::make_pair(width, height));
    if (auto found = images_.find(key); found != images_.end())
        return found->second.get();
    for (const char* extension : {".svg", ".png"}) {
        const auto path = folder_ / (name + extension);
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            continue;
        GError* failure = nullptr;
        GdkPixbuf* image = width > 0 ? gdk_pixbuf_new_from_file_at_scale(path.c_str(), width, height, FALSE, &failure)
                                     : gdk_pixbuf_new_from_file(path.c_str(), &failure);
        if (!image) {
            g_warning("Cannot read the image %s: %s", path.c_str(), failure ? failure->message : "unknown error");
            g_clear_error(&failure);
            return nullptr;
        }
        return images_.emplace(key, GObjectRef<GdkPixbuf>::adopt(image)).first->second.get();
    }
    return nullptr;
}

} // namespace kx
