// Answers one request of the static local web server, on the worker thread that owns its
// connection: GET only; the file is opened once and checked (AppServerFile); byte ranges are
// decided here (ByteRange), never by libsoup; conditional requests get 304; the body streams
// from the open descriptor in chunks, one chunk in memory per response whatever the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

typedef struct _SoupServerMessage SoupServerMessage;

namespace kx {

class AppServerRequest {
public:
    static constexpr std::size_t chunkSize = 64 * 1024;
    // The cache lifetime of a request whose query names a content hash.
    static constexpr const char* hashedCacheControl = "max-age=604800";

    // `path` is the request path as libsoup hands it over, already percent-decoded once. A body
    // longer than `longest` is not sent now: the answer is 503, to be asked for again.
    static void respond(const std::filesystem::path& folder, SoupServerMessage* message, const char* path,
                        std::uint64_t longest = UINT64_MAX);
};

} // namespace kx
