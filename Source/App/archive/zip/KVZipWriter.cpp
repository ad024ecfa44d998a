#include "App/archive/zip/KVZipWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include <zip.h>

#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/FileSystem.h"

struct KVZipWriter::Entry {
    std::string name;
    Opener open;
    std::optional<std::uint64_t> size;
    std::unique_ptr<KVDataReader> reader;
    std::span<const std::byte> pending;
    std::exception_ptr* failure = nullptr;
    std::time_t time = 0;
    zip_error_t error;
};

// The package file as libzip writes it: buffered, positioned writes into the temporary file of
// an AtomicFile, which commit puts in place.
struct KVZipWriter::Output {
    explicit Output(const std::filesystem::path& target)
        : file(target)
    {
        zip_error_init(&error);
    }
    ~Output() { zip_error_fini(&error); }

    bool flush()
    {
        size_t done = 0;
        while (done < buffer.size()) {
            ssize_t count = ::pwrite(file.fileDescriptor(), buffer.data() + done, buffer.size() - done,
                                     static_cast<off_t>(bufferStart + done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return fail(kx::Error::fromErrno(errno, "Cannot write " + file.target().string()), ZIP_ER_WRITE);
            done += static_cast<size_t>(count);
        }
        bufferStart += buffer.size();
        buffer.clear();
        return true;
    }

    bool fail(kx::Error cause, int code)
    {
        if (!failure)
            failure = std::move(cause);
        zip_error_set(&error, code, EIO);
        return false;
    }

    kx::FileSystem::AtomicFile file;
    std::vector<std::byte> buffer;
    std::uint64_t bufferStart = 0;
    std::uint64_t position = 0;
    std::uint64_t length = 0;
    std::optional<kx::Error> failure;
    zip_error_t error;
};

namespace {

zip_int64_t entryCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto& entry = *static_cast<KVZipWriter::Entry*>(userdata);
    try {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            entry.reader = entry.open();
            entry.pending = {};
            return 0;
        case ZIP_SOURCE_READ: {
            auto* out = static_cast<std::byte*>(data);
            zip_uint64_t done = 0;
            while (done < length) {
                if (entry.pending.empty()) {
                    entry.pending = entry.reader->read();
                    if (entry.pending.empty())
                        break;
                }
                size_t count = static_cast<size_t>(std::min<zip_uint64_t>(entry.pending.size(), length - done));
                std::memcpy(out + done, entry.pending.data(), count);
                entry.pending = entry.pending.subspan(count);
                done += count;
            }
            return static_cast<zip_int64_t>(done);
        }
        case ZIP_SOURCE_CLOSE:
            entry.reader.reset();
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            if (entry.size) {
                stat->size = *entry.size;
                stat->valid |= ZIP_STAT_SIZE;
            }
            stat->mtime = entry.time;
            stat->valid |= ZIP_STAT_MTIME;
            return sizeof(*stat);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&entry.error, data, length);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&entry.error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    } catch (...) {
        // Exceptions must not cross libzip; the first one is thrown again after zip_close.
        if (!*entry.failure)
            *entry.failure = std::current_exception();
        zip_error_set(&entry.error, ZIP_ER_READ, EIO);
        return -1;
    }
}

zip_int64_t outputCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto& output = *static_cast<KVZipWriter::Output*>(userdata);
    switch (command) {
    // Reading: the package starts empty (it is opened truncated).
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = 0;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(*stat);
    }
    case ZIP_SOURCE_BEGIN_WRITE:
        if (auto error = output.file.open()) {
            output.fail(*error, ZIP_ER_OPEN);
            return -1;
        }
        output.buffer.clear();
        output.bufferStart = output.position = output.length = 0;
        return 0;
    case ZIP_SOURCE_WRITE: {
        if (output.position != output.bufferStart + output.buffer.size()) {
            if (!output.flush())
                return -1;
            output.bufferStart = output.position;
        }
        auto* bytes = static_cast<const std::byte*>(data);
        output.buffer.insert(output.buffer.end(), bytes, bytes + length);
        output.position += length;
        output.length = std::max(output.length, output.position);
        if (output.buffer.size() >= KVDataReader::chunkSize && !output.flush())
            return -1;
        return static_cast<zip_int64_t>(length);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
        zip_int64_t position = zip_source_seek_compute_offset(output.position, output.length, data, length, &output.error);
        if (position < 0)
            return -1;
        output.position = static_cast<std::uint64_t>(position);
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(output.position);
    case ZIP_SOURCE_COMMIT_WRITE:
        if (!output.flush())
            return -1;
        if (auto error = output.file.commit()) {
            output.fail(*error, ZIP_ER_WRITE);
            return -1;
        }
        return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        output.buffer.clear();
        output.file.discard();
        return 0;
    case ZIP_SOURCE_REMOVE:
        // libzip removes a package left without entries; we keep an empty zip file instead.
        try {
            KVZipWriter::writeEmpty(output.file.target());
        } catch (const KVDocumentArchiveError& error) {
            output.fail(error.underlying(), ZIP_ER_WRITE);
            return -1;
        }
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&output.error, data, length);
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    default:
        zip_error_set(&output.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

KVDocumentArchiveError writeFailure(const std::filesystem::path& target, const std::string& reason)
{
    return KVDocumentArchiveError::unknown(kx::Error(KVDocumentArchiveError::domain,
                                                     static_cast<int>(KVDocumentArchiveError::Code::unknown),
                                                     "The project “" + target.filename().string() + "” couldn’t be saved.",
                                                     reason));
}

} // namespace

KVZipWriter::KVZipWriter(std::filesystem::path target)
    : target_(std::move(target))
{
}

KVZipWriter::~KVZipWriter()
{
    for (auto& entry : entries_)
        zip_error_fini(&entry->error);
}

void KVZipWriter::add(std::string name, Opener open, std::optional<std::uint64_t> size)
{
    auto entry = std::make_unique<Entry>();
    entry->name = std::move(name);
    entry->open = std::move(open);
    entry->size = size;
    zip_error_init(&entry->error);
    entries_.push_back(std::move(entry));
}

void KVZipWriter::commit()
{
    Output output(target_);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(outputCallback, &output, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
    if (!archive) {
        std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (source)
            zip_source_free(source);
        throw writeFailure(target_, reason);
    }

    std::exception_ptr failure;
    std::time_t now = std::time(nullptr);
    auto abandon = [&](const std::string& reason) {
        zip_discard(archive);
        zip_error_fini(&error);
        if (failure)
            std::rethrow_exception(failure);
        if (output.failure)
            throw KVDocumentArchiveError::unknown(*output.failure);
        throw writeFailure(target_, reason);
    };
    for (auto& entry : entries_) {
        entry->failure = &failure;
        entry->time = now;
        zip_source_t* data = zip_source_function(archive, entryCallback, entry.get());
        zip_int64_t index = data ? zip_file_add(archive, entry->name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            std::string reason = zip_strerror(archive);
            if (data)
                zip_source_free(data);
            abandon("The entry “" + entry->name + "” can’t be added: " + reason);
        }
        bool store = isAlreadyCompressed(entry->name);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 store ? 0 : compressionLevel);
        zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX, 0100644u << 16);
    }
    if (zip_close(archive) != 0)
        abandon(zip_strerror(archive));
    zip_error_fini(&error);
    if (output.failure)
        throw KVDocumentArchiveError::unknown(*output.failure);
}

void KVZipWriter::writeEmpty(const std::filesystem::path& target)
{
    static constexpr std::byte endRecord[22] = {std::byte{'P'}, std::byte{'K'}, std::byte{5}, std::byte{6}};
    if (auto error = kx::FileSystem::atomicWrite(target, std::span(endRecord)))
        throw KVDocumentArchiveError::unknown(*error);
}

bool KVZipWriter::isAlreadyCompressed(std::string_view name)
{
    auto slash = name.rfind('/');
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return false;
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* compressed : {"png", "jpg", "jpeg", "webp", "gif", "zip"})
        if (extension == compressed)
            return true;
    return false;
}
