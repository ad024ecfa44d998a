#include "Platform/UI/Workspace.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

namespace {

bool launchDefault(const std::string& uri)
{
    GError* error = nullptr;
    gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error);
    if (!ok) {
        // The scheme only: a link's query may carry a login token.
        char* scheme = g_uri_parse_scheme(uri.c_str());
        std::string reason = error ? error->message : "no handler";
        if (reason.find(uri) != std::string::npos)
            reason = "no handler";
        g_warning("Cannot open a %s link: %s", scheme ? scheme : "malformed", reason.c_str());
        g_free(scheme);
        g_clear_error(&error);
    }
    return ok;
}

std::string fileURI(const std::filesystem::path& path)
{
    gchar* uri = g_filename_to_uri(std::filesystem::absolute(path).c_str(), nullptr, nullptr);
    std::string result = uri ? uri : "";
    g_free(uri);
    return result;
}

} // namespace

Workspace& Workspace::shared()
{
    static Workspace workspace;
    return workspace;
}

bool Workspace::openURL(const std::string& url)
{
    if (opener_)
        return opener_(url);
    return launchDefault(url);
}

void Workspace::revealFile(const std::filesystem::path& file)
{
    const std::string uri = fileURI(file);
    const std::string folderURI = fileURI(file.parent_path());
    if (uri.empty())
        return;
    // The call holds the connection until it answers.
    const auto bus = GObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus) {
        openURL(folderURI);
        return;
    }
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&items, "s", uri.c_str());
    // The file manager selects the item in a window of its own; any desktop without that
    // service gets the folder opened instead.
    auto* fallback = new std::pair<Workspace*, std::string>(this, folderURI);
    g_dbus_connection_call(
        bus.get(), "org.freedesktop.FileManager1",
        "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1", "ShowItems",
        g_variant_new("(ass)", &items, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::pair<Workspace*, std::string>> folder(
                static_cast<std::pair<Workspace*, std::string>*>(data));
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply) {
                g_variant_unref(reply);
            } else {
                g_clear_error(&error);
                folder->first->openURL(folder->second);
            }
        },
        fallback);
}

void Workspace::beep()
{
    if (GdkDisplay* display = gdk_display_get_default())
        gdk_display_beep(display);
}

void Workspace::setURLOpenerForTesting(URLOpener opener)
{
    opener_ = std::move(opener);
}

} // namespace kx
