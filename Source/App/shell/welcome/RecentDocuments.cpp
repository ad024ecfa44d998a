#include "App/shell/welcome/RecentDocuments.h"

#include <gio/gio.h>

#include <algorithm>

#include "Platform/Foundation/Bundle.h"

namespace kx {

namespace {

std::optional<std::filesystem::path> localPath(const std::string& uri)
{
    gchar* filename = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!filename)
        return std::nullopt;
    std::filesystem::path path(filename);
    g_free(filename);
    // A folder's URI may end in "/": the name is what comes before it.
    if (!path.has_filename())
        path = path.parent_path();
    return path;
}

// What the desktop says the file is, as the store records it.
std::string mimeTypeOf(const std::filesystem::path& path)
{
    const auto file = GObjectRef<GFile>::adopt(g_file_new_for_path(path.c_str()));
    const auto info = GObjectRef<GFileInfo>::adopt(g_file_query_info(
        file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    const char* type = info ? g_file_info_get_content_type(info.get()) : nullptr;
    gchar* mime = type ? g_content_type_get_mime_type(type) : nullptr;
    std::string result = mime ? mime : "application/octet-stream";
    g_free(mime);
    return result;
}

} // namespace

RecentDocuments& RecentDocuments::shared()
{
    static RecentDocuments* documents = [] {
        const Bundle& bundle = Bundle::main();
        const std::string executable = bundle.stringForInfoKey("CFBundleExecutable").value_or("korvel-x");
        return new RecentDocuments(GObjectRef<GtkRecentManager>::retain(gtk_recent_manager_get_default()),
                                   bundle.stringForInfoKey("CFBundleName").value_or(executable), executable + " %u");
    }();
    return *documents;
}

RecentDocuments::RecentDocuments(GObjectRef<GtkRecentManager> store, std::string applicationName,
                                 std::string applicationExec)
    : store_(std::move(store))
    , applicationName_(std::move(applicationName))
    , applicationExec_(std::move(applicationExec))
{
}

bool RecentDocuments::hasProjectExtension(const std::filesystem::path& path)
{
    const std::string extension = path.extension().string();
    return extension == ".korvelx" || extension == ".korvel";
}

std::vector<std::filesystem::path> RecentDocuments::select(const std::vector<Item>& items,
                                                           const std::string& applicationName)
{
    struct Chosen {
        std::filesystem::path path;
        std::int64_t modified;
    };
    std::vector<Chosen> chosen;
    for (const Item& item : items) {
        if (std::find(item.applications.begin(), item.applications.end(), applicationName) == item.applications.end())
            continue;
        std::optional<std::filesystem::path> path = localPath(item.uri);
        if (path && hasProjectExtension(*path))
            chosen.push_back({std::move(*path), item.modified});
    }
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const Chosen& a, const Chosen& b) { return a.modified > b.modified; });
    if (chosen.size() > maximumRecentDocumentCount)
        chosen.resize(maximumRecentDocumentCount);
    std::vector<std::filesystem::path> paths;
    paths.reserve(chosen.size());
    for (Chosen& entry : chosen)
        paths.push_back(std::move(entry.path));
    return paths;
}

std::vector<std::filesystem::path> RecentDocuments::recentDocumentURLs() const
{
    std::vector<Item> items;
    GList* infos = gtk_recent_manager_get_items(store_.get());
    // The store lists the newest additions first; equal times keep that order.
    for (GList* link = infos; link; link = link->next) {
        auto* info = static_cast<GtkRecentInfo*>(link->data);
        Item item{gtk_recent_info_get_uri(info), std::int64_t(gtk_recent_info_get_modified(info)), {}};
        gsize count = 0;
        gchar** applications = gtk_recent_info_get_applications(info, &count);
        for (gsize index = 0; index < count; ++index)
            item.applications.emplace_back(applications[index]);
        g_strfreev(applications);
        items.push_back(std::move(item));
    }
    g_list_free_full(infos, reinterpret_cast<GDestroyNotify>(gtk_recent_info_unref));
    return select(items, applicationName_);
}

void RecentDocuments::noteNewRecentDocumentURL(const std::filesystem::path& path)
{
    // One item a project: a folder named with or without its trailing slash is the same.
    std::filesystem::path normal = std::filesystem::absolute(path).lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    gchar* uri = g_filename_to_uri(normal.c_str(), nullptr, nullptr);
    if (!uri)
        return;
    const std::string mime = mimeTypeOf(normal);
    GtkRecentData data{};
    data.mime_type = const_cast<gchar*>(mime.c_str());
    data.app_name = const_cast<gchar*>(applicationName_.c_str());
    data.app_exec = const_cast<gchar*>(applicationExec_.c_str());
    gtk_recent_manager_add_full(store_.get(), uri, &data);
    g_free(uri);
}

} // namespace kx
