#include "App/welcome/RecentDocuments.h"

#include <gio/gio.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

#include <algorithm>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// One project is one entry: a folder named with or without its trailing slash is the same.
fs::path withoutTrailingSlash(fs::path path)
{
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path())
        path = path.parent_path();
    return path;
}

// The absolute local path a file URI names; none for another host's file, another scheme, or
// text that is no URI.
std::optional<fs::path> localPath(const std::string& uri)
{
    if (uri.find('\0') != std::string::npos)
        return std::nullopt;
    gchar* host = nullptr;
    gchar* filename = g_filename_from_uri(uri.c_str(), &host, nullptr);
    const bool local = !host || std::string_view(host) == "localhost";
    g_free(host);
    if (!filename)
        return std::nullopt;
    fs::path path(filename);
    g_free(filename);
    if (!local || !path.is_absolute())
        return std::nullopt;
    return withoutTrailingSlash(path.lexically_normal());
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
        const std::string identifier = bundle.bundleIdentifier();
        return new RecentDocuments(GObjectRef<GtkRecentManager>::retain(gtk_recent_manager_get_default()),
                                   bundle.stringForInfoKey("CFBundleName").value_or(executable), executable + " %u",
                                   FileSystem::dataHome() / (identifier.empty() ? std::string("Korvel X") : identifier)
                                       / listFileName);
    }();
    return *documents;
}

RecentDocuments::RecentDocuments(GObjectRef<GtkRecentManager> store, std::string applicationName,
                                 std::string applicationExec, fs::path listFile)
    : store_(std::move(store))
    , applicationName_(std::move(applicationName))
    , applicationExec_(std::move(applicationExec))
    , listFile_(std::move(listFile))
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

std::string RecentDocuments::encodeList(const std::vector<fs::path>& paths)
{
    std::string text;
    for (const fs::path& path : paths) {
        // A URI keeps any name on one line, whatever bytes it holds.
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        if (!uri)
            continue;
        text += uri;
        text += '\n';
        g_free(uri);
    }
    return text;
}

RecentDocuments::DecodedList RecentDocuments::decodeList(std::string_view text)
{
    DecodedList list;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (list.paths.size() == maximumRecentDocumentCount) {
            ++list.leftOut;
            continue;
        }
        std::optional<fs::path> path = localPath(std::string(line));
        if (!path) {
            ++list.leftOut;
            continue;
        }
        if (std::find(list.paths.begin(), list.paths.end(), *path) == list.paths.end())
            list.paths.push_back(std::move(*path));
    }
    return list;
}

std::optional<std::vector<fs::path>> RecentDocuments::readList() const
{
    std::error_code error;
    if (fs::symlink_status(listFile_, error).type() == fs::file_type::not_found)
        return storeDocumentURLs();
    auto text = FileSystem::readFileBeneath(listFile_.parent_path(), listFile_.filename(), maximumListLength);
    if (!text) {
        if (!unreadableReported_)
            RKLog("The recent documents list " + listFile_.string() + " could not be read: it is larger than "
                      + std::to_string(maximumListLength) + " bytes, a link, not a file or not readable",
                  RKLogKind::general);
        unreadableReported_ = true;
        return std::nullopt;
    }
    unreadableReported_ = false;
    DecodedList list = decodeList(*text);
    if (list.leftOut > 0)
        RKLog(std::to_string(list.leftOut) + " lines of the recent documents list " + listFile_.string()
                  + " were left out: they name no local file, or more than "
                  + std::to_string(maximumRecentDocumentCount) + " came before them", RKLogKind::general);
    return std::move(list.paths);
}

std::vector<fs::path> RecentDocuments::recentDocumentURLs() const
{
    return readList().value_or(std::vector<fs::path>());
}

bool RecentDocuments::moveUnreadableListAside() const
{
    const fs::path aside = listFile_.parent_path() / (listFile_.filename().string() + unreadableSuffix);
    // Never over an earlier one: what could not be read stays for its owner to look at.
    if (::renameat2(AT_FDCWD, listFile_.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0) {
        RKLog("The recent documents list " + listFile_.string() + " could not be read and is kept as it is: it could not be moved to "
                  + aside.string() + " (" + g_strerror(errno) + ")",
              RKLogKind::general);
        return false;
    }
    RKLog("The recent documents list " + listFile_.string() + " could not be read; it was moved to " + aside.string()
              + " and a new one started",
          RKLogKind::general);
    unreadableReported_ = false;
    return true;
}

std::vector<fs::path> RecentDocuments::storeDocumentURLs() const
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

void RecentDocuments::noteNewRecentDocumentURL(const fs::path& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return;
    const fs::path normal = withoutTrailingSlash(absolute.lexically_normal());
    auto read = readList();
    if (!read) {
        if (!moveUnreadableListAside())
            return noteInStore(normal);
        read = storeDocumentURLs(); // as before our list existed
    }
    std::vector<fs::path> list = std::move(*read);
    std::erase(list, normal);
    list.insert(list.begin(), normal);
    if (list.size() > maximumRecentDocumentCount)
        list.resize(maximumRecentDocumentCount);
    writeList(list);
    noteInStore(normal);
}

void RecentDocuments::documentURLDidMove(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    const fs::path oldPath = withoutTrailingSlash(fs::absolute(from, error).lexically_normal());
    const fs::path newPath = withoutTrailingSlash(fs::absolute(to, error).lexically_normal());
    if (error)
        return;
    auto list = readList();
    if (!list)
        return;
    auto listed = std::find(list->begin(), list->end(), oldPath);
    if (listed == list->end())
        return;
    *listed = newPath;
    // Listed once: where it was noted under its new place before, that entry goes.
    for (auto other = list->begin(); other != list->end();)
        other = other != listed && *other == newPath ? list->erase(other) : std::next(other);
    writeList(*list);
    gchar* oldURI = g_filename_to_uri(oldPath.c_str(), nullptr, nullptr);
    gchar* newURI = g_filename_to_uri(newPath.c_str(), nullptr, nullptr);
    if (oldURI && newURI && !gtk_recent_manager_move_item(store_.get(), oldURI, newURI, nullptr))
        noteInStore(newPath);
    g_free(oldURI);
    g_free(newURI);
}

void RecentDocuments::writeList(const std::vector<fs::path>& list) const
{
    std::error_code error;
    fs::create_directories(listFile_.parent_path(), error);
    if (auto failure = FileSystem::atomicWriteBeneath(listFile_.parent_path(), listFile_.filename(), encodeList(list)))
        RKLog("The recent documents list " + listFile_.string() + " could not be written: " + failure->localizedDescription, RKLogKind::general);
}

void RecentDocuments::noteInStore(const fs::path& path)
{
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (!uri)
        return;
    const std::string mime = mimeTypeOf(path);
    GtkRecentData data{};
    data.mime_type = const_cast<gchar*>(mime.c_str());
    data.app_name = const_cast<gchar*>(applicationName_.c_str());
    data.app_exec = const_cast<gchar*>(applicationExec_.c_str());
    gtk_recent_manager_add_full(store_.get(), uri, &data);
    g_free(uri);
}

} // namespace kx
