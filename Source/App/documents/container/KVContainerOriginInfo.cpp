#include "App/documents/container/KVContainerOriginInfo.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "App/archive/KVArchiveDecoder.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/FileSystem.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// The record holds a manifest; one of the largest manifests a package may have fits.
constexpr std::uintmax_t maximumRecordLength = 64u << 20;

std::string base64(const std::string& bytes)
{
    gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string result(text);
    g_free(text);
    return result;
}

std::optional<std::string> fromBase64(const std::string& text)
{
    static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0)
        return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i)
        if (alphabet.find(text[i]) == std::string_view::npos && !(text[i] == '=' && i + 2 >= text.size()))
            return std::nullopt;
    gsize length = 0;
    guchar* bytes = g_base64_decode(text.c_str(), &length);
    std::string result(reinterpret_cast<const char*>(bytes), length);
    g_free(bytes);
    return result;
}

} // namespace

nlohmann::json KVContainerOriginInfo::toJSON() const
{
    return {{"bookmarkData", base64(bookmarkData)},
            {"manifest", manifest.toJSON()},
            {"modificationDate", KVDocumentArchive::encodeDate(modificationDate)}};
}

KVContainerOriginInfo KVContainerOriginInfo::fromJSON(const nlohmann::json& value)
{
    if (!value.is_object())
        throw KVArchiveDecoder::corrupt("The origin record is not an object.");
    auto field = [&](const char* key) -> const nlohmann::json& {
        auto found = value.find(key);
        if (found == value.end() || found->is_null())
            throw KVArchiveDecoder::corrupt(std::string("The origin record has no “") + key + "”.");
        return *found;
    };
    const auto& bookmark = field("bookmarkData");
    if (!bookmark.is_string())
        throw KVArchiveDecoder::corrupt("The origin record’s “bookmarkData” is not a string.");
    auto data = fromBase64(bookmark.get<std::string>());
    if (!data)
        throw KVArchiveDecoder::corrupt("The origin record’s “bookmarkData” is not Base64.");
    KVContainerOriginInfo info;
    info.bookmarkData = std::move(*data);
    info.manifest = KVDocumentArchive::Manifest::fromJSON(field("manifest"));
    info.modificationDate = KVDocumentArchive::decoder().date(field("modificationDate"));
    return info;
}

std::optional<KVContainerOriginInfo> KVContainerOriginInfo::read(const fs::path& file)
{
    std::error_code ec;
    auto status = fs::symlink_status(file, ec);
    if (ec || !fs::exists(status))
        return std::nullopt;
    if (!fs::is_regular_file(status) || fs::file_size(file, ec) > maximumRecordLength || ec)
        throw KVArchiveDecoder::corrupt("The origin record is not a file of a sensible size.");
    auto text = FileSystem::readFile(file);
    if (!text)
        throw KVDocumentArchiveError::unknown(Error::fromErrno(errno ? errno : EIO, "Cannot read " + file.string()));
    return fromJSON(KVDocumentArchive::decoder().parse(*text));
}

std::optional<std::string> KVContainerOriginInfo::makeBookmark(const fs::path& file)
{
    auto real = FileSystem::realPath(file);
    struct stat info {};
    if (!real || ::stat(real->c_str(), &info) != 0)
        return std::nullopt;
    nlohmann::json bookmark = {{"path", real->string()},
                               {"device", static_cast<std::uint64_t>(info.st_dev)},
                               {"inode", static_cast<std::uint64_t>(info.st_ino)}};
    return bookmark.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

// The bookmark's record, with an absolute path; null otherwise.
nlohmann::json decodedBookmark(const std::string& data)
{
    nlohmann::json bookmark;
    try {
        bookmark = KVDocumentArchive::decoder().parse(data);
    } catch (const KVDocumentArchiveError&) {
        return nullptr;
    }
    if (!bookmark.is_object() || !bookmark.contains("path") || !bookmark["path"].is_string()
        || !fs::path(bookmark["path"].get<std::string>()).is_absolute())
        return nullptr;
    return bookmark;
}

} // namespace

std::optional<fs::path> KVContainerOriginInfo::bookmarkedPath(const std::string& data)
{
    const auto bookmark = decodedBookmark(data);
    if (bookmark.is_null())
        return std::nullopt;
    return fs::path(bookmark["path"].get<std::string>());
}

std::optional<fs::path> KVContainerOriginInfo::resolveBookmark(const std::string& data)
{
    auto bookmark = decodedBookmark(data);
    if (bookmark.is_null())
        return std::nullopt;
    fs::path path = bookmark["path"].get<std::string>();
    if (auto real = FileSystem::realPath(path))
        return real;
    // Gone from its path: the same file renamed within its folder still counts.
    if (!bookmark["device"].is_number_integer() || !bookmark["inode"].is_number_integer())
        return std::nullopt;
    const auto device = bookmark["device"].get<std::uint64_t>();
    const auto inode = bookmark["inode"].get<std::uint64_t>();
    DIR* folder = ::opendir(path.parent_path().c_str());
    if (!folder)
        return std::nullopt;
    std::optional<fs::path> found;
    while (auto* item = ::readdir(folder)) {
        if (item->d_ino != inode)
            continue;
        struct stat info {};
        fs::path candidate = path.parent_path() / item->d_name;
        if (::stat(candidate.c_str(), &info) == 0 && info.st_dev == device && info.st_ino == inode) {
            found = FileSystem::realPath(candidate);
            break;
        }
    }
    ::closedir(folder);
    return found;
}

} // namespace kx
