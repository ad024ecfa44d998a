// The open and save panels (GtkFileChooserNative) and the state of the Alt key.
#include "Platform/Documents/DocumentControllerBase.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <utility>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Alert.h"

namespace kx {

namespace {

std::optional<bool>& optionKeyOverride()
{
    static std::optional<bool> down;
    return down;
}

std::string choiceId(std::size_t index)
{
    return "type" + std::to_string(index);
}

} // namespace

bool DocumentControllerBase::optionKeyIsDown()
{
    if (optionKeyOverride())
        return *optionKeyOverride();
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return false;
    // The keyboard's state now, not that of the last event: the question is asked when the
    // user chose a command, with the key held or not.
    GdkKeymap* keymap = gdk_keymap_get_for_display(display);
    return keymap && (gdk_keymap_get_modifier_state(keymap) & GDK_MOD1_MASK) != 0;
}

void DocumentControllerBase::setOptionKeyIsDownForTesting(std::optional<bool> down)
{
    optionKeyOverride() = down;
}

namespace {

// The panel whose run loop is turning, if any.
GtkNativeDialog* runningPanel = nullptr;

} // namespace

void DocumentControllerBase::endPanelsForTermination()
{
    // Hiding a panel ends its run with no answer.
    if (runningPanel)
        gtk_native_dialog_hide(runningPanel);
}

DocumentControllerBase::PanelResult DocumentControllerBase::runPanel(const PanelRequest& request, GtkWindow* parent)
{
    if (panelRunner_)
        return panelRunner_(request);
    PanelResult result;
    if (Alert::isTerminating())
        return result;
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
    const char* accept = "_Open";
    if (request.kind == PanelRequest::Kind::openFolders)
        action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
    if (request.kind == PanelRequest::Kind::save) {
        action = GTK_FILE_CHOOSER_ACTION_SAVE;
        accept = "_Save";
    }
    auto native = GObjectRef<GtkFileChooserNative>::adopt(
        gtk_file_chooser_native_new(request.title.c_str(), parent, action, accept, "_Cancel"));
    auto* chooser = GTK_FILE_CHOOSER(native.get());
    gtk_file_chooser_set_select_multiple(chooser, FALSE);
    if (request.folder)
        gtk_file_chooser_set_current_folder(chooser, request.folder->c_str());

    std::vector<const DocumentType*> types;
    for (const auto& identifier : request.types)
        if (const DocumentType* type = types_.type(identifier))
            types.push_back(type);

    if (request.kind == PanelRequest::Kind::openFiles) {
        auto filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, "Documents");
        for (const DocumentType* type : types)
            for (const auto& extension : type->extensions)
                gtk_file_filter_add_pattern(filter, ("*." + extension).c_str());
        gtk_file_chooser_add_filter(chooser, filter);
    }
    if (request.kind == PanelRequest::Kind::save) {
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        std::string name = request.suggestedName;
        if (!types.empty() && types.front()->kind == DocumentType::Kind::file && !types.front()->extensions.empty())
            name += "." + types.front()->extensions.front();
        gtk_file_chooser_set_current_name(chooser, name.c_str());
        if (types.size() > 1) {
            std::vector<std::string> ids;
            std::vector<std::string> labels;
            for (std::size_t i = 0; i < types.size(); ++i) {
                ids.push_back(choiceId(i));
                labels.push_back(types[i]->name);
            }
            std::vector<const char*> idPointers;
            std::vector<const char*> labelPointers;
            for (std::size_t i = 0; i < ids.size(); ++i) {
                idPointers.push_back(ids[i].c_str());
                labelPointers.push_back(labels[i].c_str());
            }
            idPointers.push_back(nullptr);
            labelPointers.push_back(nullptr);
            gtk_file_chooser_add_choice(chooser, "format", "Format:", idPointers.data(), labelPointers.data());
            gtk_file_chooser_set_choice(chooser, "format", choiceId(0).c_str());
        }
    }

    GtkNativeDialog* const previous = std::exchange(runningPanel, GTK_NATIVE_DIALOG(native.get()));
    const int response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(native.get()));
    runningPanel = previous;
    if (response != GTK_RESPONSE_ACCEPT || Alert::isTerminating())
        return result;
    char* chosen = gtk_file_chooser_get_filename(chooser);
    if (!chosen)
        return result;
    std::filesystem::path path(chosen);
    g_free(chosen);

    if (request.kind == PanelRequest::Kind::save && !types.empty()) {
        const DocumentType* type = types.front();
        if (types.size() > 1) {
            if (const char* choice = gtk_file_chooser_get_choice(chooser, "format"))
                for (std::size_t i = 0; i < types.size(); ++i)
                    if (choiceId(i) == choice)
                        type = types[i];
        }
        if (type->kind == DocumentType::Kind::file && !type->extensions.empty() && !type->hasExtension(path))
            path += "." + type->extensions.front();
        result.type = type->identifier;
    }
    result.urls.push_back(std::move(path));
    return result;
}

} // namespace kx
