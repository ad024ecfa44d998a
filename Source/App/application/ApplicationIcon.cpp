#include "App/application/ApplicationIcon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"
#include "Platform/Foundation/GObjectRef.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumIconSize = 1024 * 1024;

GObjectRef<GdkPixbuf> renderIcon(const fs::path& svgFile, int size)
{
    GError* error = nullptr;
    auto pixbuf = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new_from_file_at_size(svgFile.c_str(), size, size, &error));
    if (!pixbuf) {
        RKLog("Application icon: " + svgFile.filename().string() + " cannot be drawn at " + std::to_string(size) + " pixels: "
                  + (error ? error->message : ""), RKLogKind::general);
        g_clear_error(&error);
    }
    return pixbuf;
}

std::optional<std::string> pngOf(GdkPixbuf* pixbuf)
{
    gchar* buffer = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", &error, nullptr)) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::string bytes(buffer, length);
    g_free(buffer);
    return bytes;
}

// Writes unless the file there already holds `bytes`; true when written, nullopt on failure.
std::optional<bool> writeIconFile(const fs::path& dataHome, const fs::path& relative, const std::string& bytes)
{
    if (FileSystem::readFileBeneath(dataHome, relative, maximumIconSize) == bytes)
        return false;
    if (auto error = FileSystem::atomicWriteBeneath(dataHome, relative, bytes)) {
        RKLog("Application icon: " + error->localizedDescription, RKLogKind::general);
        return std::nullopt;
    }
    return true;
}

// A theme folder's new time tells icon caches and GTK that the theme changed.
void markThemeChanged(const fs::path& dataHome)
{
    const int icons = ::open((dataHome / "icons").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (icons < 0)
        return;
    const int hicolor = ::openat(icons, "hicolor", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (hicolor >= 0) {
        ::futimens(hicolor, nullptr);
        ::close(hicolor);
    }
    ::close(icons);
}

// Windows realized before there was a default carry no icon: they take it now, by its name
// in the theme or else the drawn list.
void giveToWindowsWithoutIcon(const char* name, GList* icons)
{
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (!gtk_widget_get_realized(GTK_WIDGET(window)) || gtk_window_get_icon(window) || gtk_window_get_icon_name(window))
            continue;
        if (name)
            gtk_window_set_icon_name(window, name);
        else
            gtk_window_set_icon_list(window, icons);
    }
    g_list_free(windows);
}

} // namespace

const std::vector<int>& ApplicationIcon::pngSizes()
{
    static const std::vector<int> sizes = {16, 24, 32, 48, 64, 128, 256};
    return sizes;
}

fs::path ApplicationIcon::scalablePath(const std::string& applicationId)
{
    return fs::path("icons") / "hicolor" / "scalable" / "apps" / (applicationId + ".svg");
}

fs::path ApplicationIcon::pngPath(const std::string& applicationId, int size)
{
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    return fs::path("icons") / "hicolor" / folder / "apps" / (applicationId + ".png");
}

bool ApplicationIcon::install(const fs::path& dataHome, const std::string& applicationId, const fs::path& svgFile)
{
    std::error_code error;
    const auto size = fs::file_size(svgFile, error);
    const auto svg = !error && size <= maximumIconSize ? FileSystem::readFile(svgFile) : std::nullopt;
    if (!svg) {
        RKLog("Application icon: " + svgFile.string() + " cannot be read", RKLogKind::general);
        return false;
    }
    const auto scalable = writeIconFile(dataHome, scalablePath(applicationId), *svg);
    if (!scalable)
        return false;
    bool changed = *scalable;
    bool complete = true;
    for (int pixels : pngSizes()) {
        const fs::path relative = pngPath(applicationId, pixels);
        // The same SVG draws the same PNGs: only missing ones are drawn again.
        if (!changed && FileSystem::readFileBeneath(dataHome, relative, maximumIconSize))
            continue;
        const auto pixbuf = renderIcon(svgFile, pixels);
        const auto png = pixbuf ? pngOf(pixbuf.get()) : std::nullopt;
        const auto written = png ? writeIconFile(dataHome, relative, *png) : std::nullopt;
        if (!written) {
            complete = false;
            continue;
        }
        changed = changed || *written;
    }
    if (changed)
        markThemeChanged(dataHome);
    return complete;
}

void ApplicationIcon::remove(const fs::path& dataHome, const std::string& applicationId)
{
    bool removed = FileSystem::removeBeneath(dataHome, scalablePath(applicationId));
    for (int pixels : pngSizes())
        removed = FileSystem::removeBeneath(dataHome, pngPath(applicationId, pixels)) || removed;
    if (removed)
        markThemeChanged(dataHome);
}

void ApplicationIcon::setDefaultWindowIcon(const std::string& applicationId, const fs::path& svgFile)
{
    GtkIconTheme* theme = gtk_icon_theme_get_default();
    if (theme && gtk_icon_theme_has_icon(theme, applicationId.c_str())) {
        gtk_window_set_default_icon_name(applicationId.c_str());
        giveToWindowsWithoutIcon(applicationId.c_str(), nullptr);
        return;
    }
    if (svgFile.empty())
        return;
    std::vector<GObjectRef<GdkPixbuf>> pixbufs;
    GList* list = nullptr;
    for (int pixels : pngSizes()) {
        if (auto pixbuf = renderIcon(svgFile, pixels)) {
            list = g_list_append(list, pixbuf.get());
            pixbufs.push_back(std::move(pixbuf));
        }
    }
    if (list) {
        gtk_window_set_default_icon_list(list);
        giveToWindowsWithoutIcon(nullptr, list);
    }
    g_list_free(list);
}

} // namespace kx
