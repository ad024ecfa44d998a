#include "App/server/AppServer.h"

#include <algorithm>
#include <string_view>

#include <libsoup/soup.h>

#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/FileSystem.h"

namespace kx {

namespace {

constexpr unsigned appServerMessage = 4;
constexpr unsigned appServerFailure = 5;


std::unique_ptr<AppServer>& sharedServer()
{
    static std::unique_ptr<AppServer> server;
    return server;
}

// The file a request path names inside `folder`, or nullopt for a path that is not allowed:
// undecodable, with an encoded slash or NUL, with a ".." segment, or resolving (through links)
// outside the folder.
std::optional<std::filesystem::path> resolve(const std::filesystem::path& folder, const char* path)
{
    char* decoded = g_uri_unescape_string(path, "/");
    if (!decoded)
        return std::nullopt;
    std::string relative = decoded;
    g_free(decoded);
    std::filesystem::path result = folder;
    for (std::size_t start = 0; start <= relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view name = std::string_view(relative).substr(start, end - start);
        if (name == "..")
            return std::nullopt;
        if (!name.empty() && name != ".")
            result /= std::string(name);
        start = end + 1;
    }
    // A folder stands for its index page, which is checked like any other file.
    std::error_code error;
    if (std::filesystem::is_directory(result, error))
        result /= "index.html";
    auto real = FileSystem::realPath(result);
    auto realFolder = FileSystem::realPath(folder);
    if (real && (!realFolder || !FileSystem::isInside(*real, *realFolder)))
        return std::nullopt;
    return result;
}

} // namespace

void AppServer::start()
{
    auto& server = sharedServer();
    if (server) {
        RKLog("App Server already started", appServerMessage);
        return;
    }
    auto folder = editorFolder();
    auto candidate = folder ? std::make_unique<AppServer>(*folder) : nullptr;
    if (!candidate || candidate->listen().isFailure()) {
        RKLog("Failed to start App Server", appServerFailure);
        return;
    }
    RKLog("App Server started at " + candidate->url(), appServerMessage);
    server = std::move(candidate);
}

AppServer* AppServer::shared()
{
    return sharedServer().get();
}

std::optional<std::filesystem::path> AppServer::editorFolder()
{
    return AppInfo::current()->nimbetDir();
}

AppServer::AppServer(std::filesystem::path folder)
    : folder_(std::move(folder))
{
}

AppServer::~AppServer()
{
    if (server_) {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
}

std::string AppServer::url() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

Result<Unit, Error> AppServer::listen(int first, int last)
{
    using R = Result<Unit, Error>;
    if (server_)
        return R::failure(Error(Error::posixDomain, EALREADY, "The server is already listening."));
    server_ = soup_server_new("server-header", "KorvelX", nullptr);
    soup_server_add_handler(server_, nullptr, handle, this, nullptr);

    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    std::string lastFailure = "no port to try";
    for (int port = first; port <= last; ++port) {
        GSocketAddress* address = g_inet_socket_address_new(loopback, static_cast<guint16>(port));
        GError* error = nullptr;
        bool listening = soup_server_listen(server_, address, SoupServerListenOptions(0), &error);
        g_object_unref(address);
        if (listening) {
            port_ = port;
            break;
        }
        lastFailure = error->message;
        g_error_free(error);
    }
    g_object_unref(loopback);
    if (port_ == 0) {
        g_clear_object(&server_);
        return R::failure(Error(Error::posixDomain, EADDRINUSE, "No free port from " + std::to_string(first) +
                                                                    " to " + std::to_string(last) + ".", lastFailure));
    }
    return R::success({});
}

void AppServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable* query, void* data)
{
    auto* self = static_cast<AppServer*>(data);
    auto status = [message](guint code) {
        soup_server_message_set_status(message, code, nullptr);
        soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, nullptr, 0);
    };
    if (g_strcmp0(soup_server_message_get_method(message), SOUP_METHOD_GET) != 0) {
        soup_message_headers_replace(soup_server_message_get_response_headers(message), "Allow", "GET");
        status(SOUP_STATUS_METHOD_NOT_ALLOWED);
        return;
    }
    auto file = resolve(self->folder_, path);
    if (!file) {
        status(SOUP_STATUS_FORBIDDEN);
        return;
    }
    // Read, not mapped: a file replaced while it is sent must not take the process down.
    gchar* fileContents = nullptr;
    gsize fileSize = 0;
    if (!g_file_get_contents(file->c_str(), &fileContents, &fileSize, nullptr)) {
        status(SOUP_STATUS_NOT_FOUND);
        return;
    }
    GBytes* bytes = g_bytes_new_take(fileContents, fileSize);

    auto* headers = soup_server_message_get_response_headers(message);
    gsize size = 0;
    gconstpointer contents = g_bytes_get_data(bytes, &size);
    gchar* type = g_content_type_guess(file->filename().c_str(), static_cast<const guchar*>(contents),
                                       std::min<gsize>(size, 4096), nullptr);
    gchar* mime = g_content_type_get_mime_type(type);
    soup_message_headers_set_content_type(headers, mime ? mime : "application/octet-stream", nullptr);
    g_free(mime);
    g_free(type);
    // Names that carry a content hash never change their contents.
    bool hashed = query && g_hash_table_contains(query, "hash");
    soup_message_headers_replace(headers, "Cache-Control", hashed ? "max-age=604800" : "no-cache");
    soup_message_headers_replace(headers, "Accept-Ranges", "bytes");

    soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
    soup_message_body_append_bytes(soup_server_message_get_response_body(message), bytes);
    g_bytes_unref(bytes);
}

} // namespace kx
