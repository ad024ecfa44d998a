// The open panels (GtkFileChooserNative), the save panel (GtkFileChooserDialog) with the folder
// it starts in, and the state of the Alt key.
#include "Platform/Documents/DocumentControllerBase.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <utility>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/SheetNotification.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::optional<bool>& optionKeyOverride()
{
    static std::optional<bool> down;
    return down;
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

// The panel whose run loop is turning, if any: an open panel, or the save panel.
GtkNativeDialog* runningPanel = nullptr;
GtkDialog* runningSavePanel = nullptr;

void rememberPanelFolder(const fs::path& folder)
{
    // A URI keeps a name that is no UTF-8, which the defaults' JSON could not.
    gchar* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
    if (!uri)
        return;
    UserDefaults::standard().setString(DocumentControllerBase::lastPanelFolderKey, uri);
    g_free(uri);
}

} // namespace

void DocumentControllerBase::endPanelsForTermination()
{
    // Hiding an open panel ends its run with no answer; the save panel is cancelled.
    if (runningPanel)
        gtk_native_dialog_hide(runningPanel);
    if (runningSavePanel)
        gtk_dialog_response(runningSavePanel, GTK_RESPONSE_CANCEL);
}

DocumentControllerBase::Path DocumentControllerBase::defaultSaveFolder() const
{
    std::error_code error;
    if (auto uri = UserDefaults::standard().stringForKey(lastPanelFolderKey)) {
        gchar* host = nullptr;
        gchar* name = g_filename_from_uri(uri->c_str(), &host, nullptr);
        const Path folder(name ? name : "");
        const bool local = host == nullptr;
        g_free(host);
        g_free(name);
        if (local && folder.is_absolute() && fs::is_directory(folder, error))
            return folder;
    }
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    if (documents && fs::is_directory(documents, error))
        return documents;
    return g_get_home_dir();
}

std::string DocumentControllerBase::nameForFormat(const std::string& name, const DocumentType& from, const DocumentType& to)
{
    std::string result = name;
    const bool keepsExtension = to.kind == DocumentType::Kind::file && to.hasExtension(result);
    if (from.identifier != to.identifier && from.kind == DocumentType::Kind::file && from.hasExtension(result)
        && !keepsExtension)
        result = fs::path(result).replace_extension().string();
    if (!result.empty() && to.kind == DocumentType::Kind::file && !to.extensions.empty() && !to.hasExtension(result))
        result += "." + to.extensions.front();
    return result;
}

std::optional<Error> DocumentControllerBase::errorForSaveName(const Path&) const
{
    return std::nullopt;
}

DocumentControllerBase::PanelResult DocumentControllerBase::runPanel(const PanelRequest& request, GtkWindow* parent)
{
    PanelRequest asked = request;
    if (asked.kind == PanelRequest::Kind::save && !asked.folder)
        asked.folder = defaultSaveFolder();
    PanelResult result = panelRunner_ ? panelRunner_(asked) : runFileChooser(asked, parent);
    if (!result.urls.empty())
        rememberPanelFolder(result.urls.front().parent_path());
    return result;
}

DocumentControllerBase::PanelResult DocumentControllerBase::runFileChooser(const PanelRequest& request, GtkWindow* parent)
{
    PanelResult result;
    if (Alert::isTerminating())
        return result;
    std::vector<const DocumentType*> types;
    for (const auto& identifier : request.types)
        if (const DocumentType* type = types_.type(identifier))
            types.push_back(type);
    if (request.kind == PanelRequest::Kind::save)
        return types.empty() ? result : runSavePanel(request, types, parent);

    const bool folders = request.kind == PanelRequest::Kind::openFolders;
    auto native = GObjectRef<GtkFileChooserNative>::adopt(gtk_file_chooser_native_new(
        request.title.c_str(), parent, folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
        "_Open", "_Cancel"));
    auto* chooser = GTK_FILE_CHOOSER(native.get());
    gtk_file_chooser_set_select_multiple(chooser, FALSE);
    if (request.folder)
        gtk_file_chooser_set_current_folder(chooser, request.folder->c_str());
    if (!folders) {
        auto filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, "Documents");
        for (const DocumentType* type : types)
            for (const auto& extension : type->extensions)
                gtk_file_filter_add_pattern(filter, ("*." + extension).c_str());
        gtk_file_chooser_add_filter(chooser, filter);
    }

    GtkNativeDialog* const previous = std::exchange(runningPanel, GTK_NATIVE_DIALOG(native.get()));
    const int response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(native.get()));
    runningPanel = previous;
    if (response != GTK_RESPONSE_ACCEPT || Alert::isTerminating())
        return result;
    if (char* chosen = gtk_file_chooser_get_filename(chooser)) {
        result.urls.emplace_back(chosen);
        g_free(chosen);
    }
    return result;
}

DocumentControllerBase::PanelResult DocumentControllerBase::runSavePanel(const PanelRequest& request,
                                                                         const std::vector<const DocumentType*>& types,
                                                                         GtkWindow* parent)
{
    PanelResult result;
    // A chooser of our own process, not the desktop's portal: only it says which format is
    // chosen while it is open, so that the name can follow.
    GtkWidget* dialog = gtk_file_chooser_dialog_new(request.title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (request.folder)
        gtk_file_chooser_set_current_folder(chooser, request.folder->c_str());

    // One filter a format: the list shows the files of the chosen one (a folder format only
    // folders, which are always listed).
    std::vector<std::pair<GtkFileFilter*, const DocumentType*>> formats;
    for (const DocumentType* type : types) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, type->name.c_str());
        if (type->kind == DocumentType::Kind::file) {
            for (const auto& extension : type->extensions)
                gtk_file_filter_add_pattern(filter, ("*." + extension).c_str());
        } else {
            gtk_file_filter_add_custom(filter, GTK_FILE_FILTER_FILENAME,
                                       [](const GtkFileFilterInfo*, gpointer) -> gboolean { return FALSE; }, nullptr, nullptr);
        }
        gtk_file_chooser_add_filter(chooser, filter);
        formats.emplace_back(filter, type);
    }
    const DocumentType* format = types.front();
    gtk_file_chooser_set_filter(chooser, formats.front().first);
    gtk_file_chooser_set_current_name(chooser, nameForFormat(request.suggestedName, *format, *format).c_str());

    auto currentName = [chooser] {
        gchar* name = gtk_file_chooser_get_current_name(chooser);
        std::string text = name ? name : "";
        g_free(name);
        return text;
    };
    std::vector<SignalConnection> connections;
    connections.push_back(SignalConnection::connect<void(GObject*, GParamSpec*)>(dialog, "notify::filter", [&](GObject*, GParamSpec*) {
        GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser);
        for (const auto& [candidate, type] : formats) {
            if (candidate != filter || type == format)
                continue;
            gtk_file_chooser_set_current_name(chooser, nameForFormat(currentName(), *format, *type).c_str());
            format = type;
        }
    }));
    // The panel asks before replacing the file it names; a name completed after that question
    // would replace a file unasked. So the name is completed first and the answer given again.
    // A name the documents cannot store is refused with the panel still open, as the user typed it.
    // A whole path typed as the name ("~/projects/landing", as GTK's panels allow) is completed
    // in its last part only: set with its folder, the name leaves the panel completing the path
    // instead of answering. The panel is sent to that folder and answered again once it shows
    // it: it changes folders in the background, and would meanwhile take the name for one in
    // the folder it is leaving.
    GObjectRef<GFile> awaitedFolder;
    connections.push_back(SignalConnection::connect<void(GtkFileChooser*)>(dialog, "current-folder-changed", [&](GtkFileChooser*) {
        const auto awaited = std::exchange(awaitedFolder, nullptr);
        auto shown = GObjectRef<GFile>::adopt(gtk_file_chooser_get_current_folder_file(chooser));
        if (awaited && shown && g_file_equal(awaited.get(), shown.get()))
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    }));
    connections.push_back(SignalConnection::connect<void(GtkDialog*, int)>(dialog, "response", [&](GtkDialog* panel, int response) {
        awaitedFolder = nullptr;
        if (response != GTK_RESPONSE_ACCEPT)
            return;
        const std::string name = currentName();
        const size_t slash = name.rfind('/');
        const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
        const std::string complete = nameForFormat(file, *format, *format);
        if (complete != file) {
            g_signal_stop_emission_by_name(panel, "response");
            if (slash == std::string::npos) {
                gtk_file_chooser_set_current_name(chooser, complete.c_str());
                gtk_dialog_response(panel, GTK_RESPONSE_ACCEPT);
                return;
            }
            auto typed = GObjectRef<GFile>::adopt(gtk_file_chooser_get_file(chooser));
            auto folder = GObjectRef<GFile>::adopt(typed ? g_file_get_parent(typed.get()) : nullptr);
            if (folder && gtk_file_chooser_set_current_folder_file(chooser, folder.get(), nullptr)) {
                gtk_file_chooser_set_current_name(chooser, complete.c_str());
                awaitedFolder = std::move(folder);
            }
            return;
        }
        char* chosen = gtk_file_chooser_get_filename(chooser);
        const auto refused = errorForSaveName(chosen ? Path(chosen) : Path(name));
        g_free(chosen);
        if (!refused)
            return;
        g_signal_stop_emission_by_name(panel, "response");
        Alert::alertWithError(*refused)->beginSheetModal(GTK_WINDOW(panel), {});
    }));

    if (parent)
        postWindowWillBeginSheet(parent);
    GtkDialog* const previous = std::exchange(runningSavePanel, GTK_DIALOG(dialog));
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    runningSavePanel = previous;
    char* chosen = response == GTK_RESPONSE_ACCEPT && !Alert::isTerminating() ? gtk_file_chooser_get_filename(chooser) : nullptr;
    connections.clear();
    gtk_widget_destroy(dialog);
    if (!chosen)
        return result;
    fs::path path(chosen);
    g_free(chosen);
    if (format->kind == DocumentType::Kind::file && !format->extensions.empty() && !format->hasExtension(path))
        path += "." + format->extensions.front();
    result.urls.push_back(std::move(path));
    result.type = format->identifier;
    return result;
}

} // namespace kx
