#include "App/server/AppServerRequest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <gio/gio.h>
#include <libsoup/soup.h>

#include "App/server/AppServerFile.h"
#include "App/server/ByteRange.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/SourceHandle.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

// Whether an item of the raw query is named "hash", with or without a value.
bool queryNamesHash(const char* query)
{
    if (!query)
        return false;
    std::string_view rest = query;
    while (!rest.empty()) {
        auto amp = rest.find('&');
        std::string_view item = rest.substr(0, amp);
        std::string name(item.substr(0, item.find('=')));
        char* decoded = g_uri_unescape_string(name.c_str(), nullptr);
        bool isHash = decoded && std::string_view(decoded) == "hash";
        g_free(decoded);
        if (isHash)
            return true;
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    return false;
}

std::string httpDate(time_t seconds)
{
    GDateTime* time = g_date_time_new_from_unix_utc(seconds);
    if (!time)
        return {};
    char* text = soup_date_time_to_string(time, SOUP_DATE_HTTP);
    g_date_time_unref(time);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

// Seconds since the epoch of an HTTP date, or -1 when it is not one.
gint64 parseHttpDate(const char* text)
{
    GDateTime* time = text ? soup_date_time_new_from_http_string(text) : nullptr;
    if (!time)
        return -1;
    gint64 seconds = g_date_time_to_unix(time);
    g_date_time_unref(time);
    return seconds;
}

bool etagListMatches(std::string_view list, std::string_view etag)
{
    while (true) {
        auto comma = list.find(',');
        auto tag = trimmed(list.substr(0, comma), httpWhiteSpace);
        if (tag == "*")
            return true;
        if (tag.starts_with("W/"))
            tag.remove_prefix(2); // weak comparison
        if (tag == etag)
            return true;
        if (comma == std::string_view::npos)
            return false;
        list.remove_prefix(comma + 1);
    }
}

// RFC 9110, 13.2.2: If-None-Match decides when present; If-Modified-Since only without it.
bool isNotModified(SoupMessageHeaders* request, const std::string& etag, time_t modified)
{
    if (const char* match = soup_message_headers_get_one(request, "If-None-Match"))
        return etagListMatches(match, etag);
    gint64 since = parseHttpDate(soup_message_headers_get_one(request, "If-Modified-Since"));
    return since >= 0 && modified <= since;
}

// A Range that comes with an If-Range for another version of the file is ignored.
ByteRange rangeFor(SoupMessageHeaders* request, const std::string& etag, time_t modified, std::uint64_t size)
{
    const char* range = soup_message_headers_get_one(request, "Range");
    if (!range)
        return {};
    if (const char* condition = soup_message_headers_get_one(request, "If-Range")) {
        std::string_view validator = trimmed(condition, httpWhiteSpace);
        bool current = validator.starts_with("\"") ? validator == etag
                                                   : !validator.starts_with("W/") && parseHttpDate(condition) == modified;
        if (!current)
            return {};
    }
    return ByteRange::select(range, size);
}

std::string contentType(const AppServerFile& file)
{
    if (file.name().ends_with(".wasm"))
        return "application/wasm"; // browsers compile WebAssembly as it streams only with this type
    gboolean uncertain = FALSE;
    gchar* type = g_content_type_guess(file.name().c_str(), nullptr, 0, &uncertain);
    if (uncertain) {
        // Only then is the start of the file worth reading.
        guchar start[4096];
        ssize_t count = ::pread(file.descriptor(), start, sizeof start, 0);
        if (count > 0) {
            g_free(type);
            type = g_content_type_guess(file.name().c_str(), start, static_cast<gsize>(count), nullptr);
        }
    }
    gchar* mime = g_content_type_get_mime_type(type);
    std::string result = mime ? mime : "application/octet-stream";
    g_free(mime);
    g_free(type);
    return result;
}

// Feeds one response from its open file, a chunk at a time, so memory stays one chunk per
// response. After the first chunk, each next one is read only when libsoup has written the last,
// on the next turn of the worker's loop: a large response then moves one chunk per turn, and a
// new request never waits behind the whole send buffers of every other connection. Owned by its
// message.
class FileTransfer {
public:
    FileTransfer(SoupServerMessage* message, AppServerFile file, std::uint64_t first, std::uint64_t length)
        : message_(message)
        , file_(std::move(file))
        , offset_(first)
        , remaining_(length)
    {
        wroteChunk_ = SignalConnection::connect<void(SoupServerMessage*)>(
            message, "wrote-chunk", [this](SoupServerMessage*) { chunkWritten(); });
        // Ended, or its connection gone (closed to make room, say) before it ended: nothing more
        // is fed, and it is never unpaused again.
        for (const char* end : {"finished", "disconnected"})
            ends_.push_back(SignalConnection::connect<void(SoupServerMessage*)>(message, end, [this](SoupServerMessage*) {
                done_ = true;
                next_.remove();
                closer_.remove();
            }));
    }

    static void attach(SoupServerMessage* message, FileTransfer* transfer)
    {
        g_object_set_data_full(G_OBJECT(message), "kx-file-transfer", transfer,
                               [](gpointer data) { delete static_cast<FileTransfer*>(data); });
        transfer->appendChunk();
    }

private:
    void chunkWritten()
    {
        if (remaining_ == 0) {
            soup_message_body_complete(soup_server_message_get_response_body(message_));
            return;
        }
        // Fed at once, libsoup writes the next chunk in the same turn of the loop, up to about
        // what the send buffer takes: a worker busy with many clients turns its loop slowly, and
        // a chunk a turn would starve a large answer.
        if (++fedThisTurn_ < chunksPerTurn) {
            appendChunk();
            return;
        }
        fedThisTurn_ = 0;
        // Then libsoup pauses the message when it finds no chunk to write; the idle source feeds
        // it, at the sockets' priority: in the same turn as theirs, not only once none is ready,
        // or clients that keep asking would starve a large answer; and after theirs, so that one
        // fast client does not keep the worker from the others.
        GSource* idle = g_idle_source_new();
        g_source_set_priority(idle, G_PRIORITY_DEFAULT);
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                static_cast<FileTransfer*>(data)->feed();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(idle, g_main_context_get_thread_default());
        next_ = SourceHandle::adopt(idle);
    }

    void feed()
    {
        if (done_)
            return;
        if (appendChunk())
            soup_server_message_unpause(message_);
    }

    bool appendChunk()
    {
        gsize wanted = static_cast<gsize>(std::min<std::uint64_t>(AppServerRequest::chunkSize, remaining_));
        auto* buffer = static_cast<char*>(g_malloc(wanted));
        ssize_t count;
        do
            count = ::pread(file_.descriptor(), buffer, wanted, static_cast<off_t>(offset_));
        while (count < 0 && errno == EINTR);
        if (count <= 0) {
            // The file shrank or cannot be read: the length is promised, so only closing the
            // connection tells the client. Not from inside libsoup's write: on the next turn.
            g_free(buffer);
            closeConnectionLater();
            return false;
        }
        GBytes* bytes = g_bytes_new_take(buffer, static_cast<gsize>(count));
        soup_message_body_append_bytes(soup_server_message_get_response_body(message_), bytes);
        g_bytes_unref(bytes);
        offset_ += static_cast<std::uint64_t>(count);
        remaining_ -= static_cast<std::uint64_t>(count);
        return true;
    }

    // Held by the transfer, so that a message that ended meanwhile (its connection closed by the
    // worker to make room, say) is not stolen from again: a second steal would have libsoup let
    // go of the connection twice.
    void closeConnectionLater()
    {
        GSource* idle = g_idle_source_new();
        g_source_set_priority(idle, G_PRIORITY_DEFAULT);
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<FileTransfer*>(data);
                if (self->done_)
                    return G_SOURCE_REMOVE;
                // The message owns the transfer, and may go with its connection.
                const auto message = GObjectRef<SoupServerMessage>::retain(self->message_);
                self->closer_ = {};
                auto stream = GObjectRef<GIOStream>::adopt(soup_server_message_steal_connection(message.get()));
                if (stream)
                    g_io_stream_close(stream.get(), nullptr, nullptr);
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(idle, g_main_context_get_thread_default());
        closer_ = SourceHandle::adopt(idle);
    }

    static constexpr int chunksPerTurn = 4;

    SoupServerMessage* message_; // owns this
    AppServerFile file_;
    std::uint64_t offset_;
    std::uint64_t remaining_;
    int fedThisTurn_ = 0;
    bool done_ = false;
    SourceHandle next_;
    SourceHandle closer_;
    SignalConnection wroteChunk_;
    std::vector<SignalConnection> ends_;
};

void setStatus(SoupServerMessage* message, guint code)
{
    soup_server_message_set_status(message, code, nullptr);
    soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, nullptr, 0);
}

void setBusy(SoupServerMessage* message)
{
    setStatus(message, SOUP_STATUS_SERVICE_UNAVAILABLE);
    soup_message_headers_replace(soup_server_message_get_response_headers(message), "Retry-After", "1");
}

} // namespace

void AppServerRequest::respond(const std::filesystem::path& folder, SoupServerMessage* message, const char* path,
                               std::uint64_t longest)
{
    auto* headers = soup_server_message_get_response_headers(message);
    if (soup_server_message_get_method(message) != SOUP_METHOD_GET) {
        soup_message_headers_replace(headers, "Allow", "GET");
        setStatus(message, SOUP_STATUS_METHOD_NOT_ALLOWED);
        return;
    }

    // libsoup has decoded the path once already; decoding it again would let "%2520" name " ".
    std::string_view requested = path ? path : "/";
    std::string relative;
    for (std::size_t start = 0; start <= requested.size();) {
        auto end = std::min(requested.find('/', start), requested.size());
        auto segment = requested.substr(start, end - start);
        start = end + 1;
        if (segment == "..") {
            setStatus(message, SOUP_STATUS_FORBIDDEN);
            return;
        }
        if (segment.empty() || segment == ".")
            continue;
        relative.append(relative.empty() ? "" : "/").append(segment);
    }

    auto file = AppServerFile::open(folder, relative, requested.ends_with('/'));
    switch (file.outcome()) {
    case AppServerFile::Outcome::notFound:
        setStatus(message, SOUP_STATUS_NOT_FOUND);
        return;
    case AppServerFile::Outcome::forbidden:
        setStatus(message, SOUP_STATUS_FORBIDDEN);
        return;
    case AppServerFile::Outcome::unavailable:
        // A passing shortage of the server's, not the file's: worth asking again.
        setBusy(message);
        return;
    case AppServerFile::Outcome::redirect: {
        // From the cleaned path: "//name" taken as it came would be read as another host's.
        char* escaped = g_uri_escape_string(relative.c_str(), "/!$&'()*+,;=:@", FALSE);
        std::string location = "/" + std::string(escaped) + "/";
        g_free(escaped);
        if (const char* query = g_uri_get_query(soup_server_message_get_uri(message)))
            location.append("?").append(query);
        // Relative to this server, whatever host name the client used.
        setStatus(message, SOUP_STATUS_MOVED_PERMANENTLY);
        soup_message_headers_replace(headers, "Location", location.c_str());
        return;
    }
    case AppServerFile::Outcome::file:
        break;
    }

    const struct stat& status = file.status();
    auto size = static_cast<std::uint64_t>(status.st_size);
    char tag[80];
    std::snprintf(tag, sizeof tag, "\"%" PRIx64 "-%" PRIx64 "-%" PRIx64 "\"", static_cast<std::uint64_t>(status.st_ino),
                  size,
                  static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
                      static_cast<std::uint64_t>(status.st_mtim.tv_nsec));
    std::string etag = tag;
    // Names that carry a content hash never change their contents.
    bool hashed = queryNamesHash(g_uri_get_query(soup_server_message_get_uri(message)));
    soup_message_headers_replace(headers, "Cache-Control", hashed ? hashedCacheControl : "no-cache");
    soup_message_headers_replace(headers, "ETag", etag.c_str());
    soup_message_headers_replace(headers, "Last-Modified", httpDate(status.st_mtime).c_str());
    soup_message_headers_replace(headers, "Accept-Ranges", "bytes");

    auto* request = soup_server_message_get_request_headers(message);
    if (isNotModified(request, etag, status.st_mtime)) {
        soup_server_message_set_status(message, SOUP_STATUS_NOT_MODIFIED, nullptr);
        // Left to libsoup, it would be "Content-Length: 0"; a 304 may only give the length a 200
        // would have (RFC 9110, 8.6), and a client may take any other for the file's.
        soup_message_headers_set_content_length(headers, static_cast<goffset>(size));
        return;
    }

    auto range = rangeFor(request, etag, status.st_mtime, size);
    if (range.kind == ByteRange::Kind::unsatisfiable) {
        setStatus(message, SOUP_STATUS_REQUESTED_RANGE_NOT_SATISFIABLE);
        soup_message_headers_replace(headers, "Content-Range", ("bytes */" + std::to_string(size)).c_str());
        return;
    }
    std::uint64_t first = 0, length = size;
    if (range.kind == ByteRange::Kind::partial) {
        first = range.first;
        length = range.length;
    }
    if (length > longest) {
        for (const char* name : {"Cache-Control", "ETag", "Last-Modified", "Accept-Ranges"})
            soup_message_headers_remove(headers, name);
        setBusy(message);
        return;
    }
    soup_message_headers_set_content_type(headers, contentType(file).c_str(), nullptr);
    if (range.kind == ByteRange::Kind::partial) {
        soup_server_message_set_status(message, SOUP_STATUS_PARTIAL_CONTENT, nullptr);
        soup_message_headers_set_content_range(headers, static_cast<goffset>(first),
                                               static_cast<goffset>(first + length - 1), static_cast<goffset>(size));
    } else {
        soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
    }
    soup_message_headers_set_content_length(headers, static_cast<goffset>(length));
    if (length == 0)
        return;
    // Written as it is read: libsoup keeps nothing once a chunk is on the wire.
    soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
    FileTransfer::attach(message, new FileTransfer(message, std::move(file), first, length));
}

} // namespace kx
