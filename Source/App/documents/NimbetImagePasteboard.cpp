#include "App/documents/NimbetImagePasteboard.h"

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "Platform/UI/Window.h"

namespace kx {

namespace {

GtkClipboard* selection()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return nullptr;
    return gtk_clipboard_get_for_display(display, gdk_atom_intern_static_string(NimbetImagePasteboard::name));
}

// The pasteboard of the process, where the display has no selections by name; none until an
// image is copied.
std::optional<std::string>& inProcessPasteboard()
{
    static std::optional<std::string> text;
    return text;
}

bool usesInProcessPasteboard()
{
    GdkDisplay* display = gdk_display_get_default();
    return display && !Window::isX11Display(display);
}

} // namespace

std::string NimbetImagePasteboard::encode(const Images& images)
{
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [imageName, path] : images)
        object[imageName] = path.string();
    // Names that are not UTF-8 cannot travel; they are replaced rather than fail the copy.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<NimbetImagePasteboard::Images> NimbetImagePasteboard::decode(const std::string& data)
{
    if (data.size() > maximumLength)
        return std::nullopt;
    auto value = nlohmann::json::parse(data, nullptr, false);
    if (!value.is_object())
        return std::nullopt;
    Images images;
    for (const auto& [imageName, path] : value.items()) {
        if (!path.is_string())
            return std::nullopt;
        images[imageName] = path.get<std::string>();
    }
    return images;
}

void NimbetImagePasteboard::write(const Images& images)
{
    if (usesInProcessPasteboard()) {
        inProcessPasteboard() = encode(images);
        return;
    }
    GtkClipboard* clipboard = selection();
    if (!clipboard)
        return;
    static const GtkTargetEntry targets[] = {{const_cast<char*>(type), 0, 0}};
    auto* text = new std::string(encode(images));
    gtk_clipboard_set_with_data(
        clipboard, targets, 1,
        [](GtkClipboard*, GtkSelectionData* data, guint, gpointer owner) {
            const auto* json = static_cast<const std::string*>(owner);
            gtk_selection_data_set(data, gdk_atom_intern_static_string(type), 8,
                                   reinterpret_cast<const guchar*>(json->data()), int(json->size()));
        },
        [](GtkClipboard*, gpointer owner) { delete static_cast<std::string*>(owner); }, text);
}

std::optional<NimbetImagePasteboard::Images> NimbetImagePasteboard::read()
{
    if (usesInProcessPasteboard())
        return inProcessPasteboard() ? decode(*inProcessPasteboard()) : std::nullopt;
    GtkClipboard* clipboard = selection();
    if (!clipboard)
        return std::nullopt;
    GtkSelectionData* data = gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern_static_string(type));
    if (!data)
        return std::nullopt;
    std::optional<Images> images;
    const int length = gtk_selection_data_get_length(data);
    if (length >= 0 && std::size_t(length) <= maximumLength)
        images = decode(std::string(reinterpret_cast<const char*>(gtk_selection_data_get_data(data)), std::size_t(length)));
    gtk_selection_data_free(data);
    return images;
}

} // namespace kx
