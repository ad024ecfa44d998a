// The editor's callbacks into the document base class, the image pasteboard and opening
// project files.
#include "App/documents/PDBaseDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gio/gio.h>

#include "App/documents/KVDocumentContainerDataSource.h"
#include "App/documents/NimbetImagePasteboard.h"
#include "App/documents/container/KVContainerFiles.h"
#include "App/shell/RKLog.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// Programs and launchers: what the desktop's default handler would run rather than show.
bool isRunnableContentType(const char* type)
{
    static const char* const runnable[] = {
        "application/x-executable", "application/x-sharedlib", "application/x-desktop", "application/x-shellscript",
        "application/x-ms-dos-executable", "application/x-msi", "application/x-java-archive", "application/vnd.appimage",
        "application/x-ms-shortcut", "application/x-perl", "application/x-python", "application/x-ruby",
    };
    for (const char* candidate : runnable)
        if (g_content_type_is_a(type, candidate))
            return true;
    return false;
}

bool endsWithIgnoringCase(const std::string& text, const std::string& suffix)
{
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i])
            return false;
    return true;
}

} // namespace

std::shared_ptr<RenderedHTMLCache> PDBaseDocument::exportPreviewCache()
{
    if (!exportPreviewCache_)
        exportPreviewCache_ = std::make_shared<RenderedHTMLCache>(100);
    return exportPreviewCache_;
}

std::shared_ptr<RenderedHTMLCache> PDBaseDocument::componentsThumbnailCache()
{
    if (!componentsThumbnailCache_)
        componentsThumbnailCache_ = std::make_shared<RenderedHTMLCache>();
    return componentsThumbnailCache_;
}

std::optional<std::string> PDBaseDocument::nimbetDocumentDidReceiveImageData(const std::string&)
{
    return std::nullopt;
}

std::optional<std::string> PDBaseDocument::nimbetDocumentDidReceiveAssetData(const std::string&, const std::string&)
{
    return std::nullopt;
}

void PDBaseDocument::nimbetReadImagesFromPasteboard(const std::map<std::string, fs::path>&)
{
}

void PDBaseDocument::nimbetDocumentDidRequestCopyImagesToPasteboard(const std::vector<std::string>& imageNames)
{
    auto folder = nimbetImagePath();
    if (!folder)
        return;
    NimbetImagePasteboard::Images images;
    // Names come from the page: only names of one file in the images folder travel.
    for (const auto& name : imageNames)
        if (KVContainerFiles::isPlainFileName(name) && !name.starts_with('.'))
            images[name] = *folder / name;
    NimbetImagePasteboard::write(images);
}

void PDBaseDocument::nimbetDocumentDidRequestCopyImagesFromPasteboard()
{
    if (auto images = NimbetImagePasteboard::read())
        nimbetReadImagesFromPasteboard(*images);
}

void PDBaseDocument::nimbetDocumentDidBecomeDirty()
{
    if (documentJSONSource_)
        documentJSONSource_->setDataNeedsToBeProvided(true);
}

void PDBaseDocument::nimbetServerStoreData(const std::optional<nlohmann::json>& arguments)
{
    if (previewWindowController_)
        previewWindowController_->nimbetServerStoreData(arguments);
}

void PDBaseDocument::nimbetPackageAdd(const std::string& packageName)
{
    addPackage(packageName, false);
}

void PDBaseDocument::openPreviewInspector()
{
    if (previewWindowController_)
        previewWindowController_->showInspector();
}

void PDBaseDocument::openPreviewAndOrderFront(bool flag)
{
    if (!previewWindowController_)
        return;
    if (flag) {
        previewWindowController_->showWithMakeKey(true);
    } else if (!previewWindowController_->isVisible()) {
        GtkWindow* preview = previewWindowController_->window();
        if (preview && windowForSheet()) {
            gtk_window_set_focus_on_map(preview, FALSE);
            gtk_widget_show(GTK_WIDGET(preview));
            gtk_window_set_focus_on_map(preview, TRUE);
            if (GdkWindow* previewWindow = gtk_widget_get_window(GTK_WIDGET(preview)))
                gdk_window_restack(previewWindow, gtk_widget_get_window(GTK_WIDGET(windowForSheet())), FALSE);
        }
    }
}

bool PDBaseDocument::openProjectFile(const std::string& relativePath)
{
    auto project = projectPath();
    if (!project)
        return false;
    // Inside the project with every link resolved, checked again here: the page is not trusted.
    auto checked = NimbetIPCProcessor::checkedProjectPath(*project, relativePath);
    std::error_code ec;
    const fs::path root = fs::canonical(*project, ec);
    if (!checked || ec) {
        RKLog("Refused to open a file that is not in the project", RKLogKind::general);
        return false;
    }
    const fs::path target = root / *checked;
    const int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info {};
    bool refused = ::fstat(fd, &info) != 0;
    if (!refused && S_ISREG(info.st_mode)) {
        char head[4096];
        const ssize_t length = ::read(fd, head, sizeof head);
        gboolean uncertain = FALSE;
        char* type = g_content_type_guess(target.filename().c_str(), reinterpret_cast<const guchar*>(head),
                                          length > 0 ? gsize(length) : 0, &uncertain);
        // Launchers and executables would run, not open.
        refused = (info.st_mode & 0111) != 0 || endsWithIgnoringCase(target.filename().string(), ".desktop")
            || (type && isRunnableContentType(type));
        g_free(type);
    } else if (!refused) {
        refused = !S_ISDIR(info.st_mode);
    }
    ::close(fd);
    if (refused) {
        RKLog("Refused to open a project file that would run as a program", RKLogKind::general);
        return false;
    }
    gchar* uri = g_filename_to_uri(target.c_str(), nullptr, nullptr);
    if (!uri)
        return false;
    const bool opened = Workspace::shared().openURL(uri);
    g_free(uri);
    return opened;
}

} // namespace kx
