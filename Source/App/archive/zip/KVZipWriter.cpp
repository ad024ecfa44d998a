#include "App/archive/zip/KVZipWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include <zip.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVSaveStaging.h"
#include "App/archive/zip/KVZipDirectory.h"

struct KVZipWriter::Entry {
    std::string name;
    Opener open;
    std::optional<std::uint64_t> size;
    bool store = false;
    std::unique_ptr<KVDataReader> reader;
    std::span<const std::byte> pending;
    std::exception_ptr* failure = nullptr;
    std::time_t time = 0;
    zip_error_t error;
};

// The package file as libzip writes it: buffered, positioned writes into the staged file,
// which commit checks and puts in place.
struct KVZipWriter::Output {
    Output(const std::filesystem::path& target_, const KVZipLimits& limits_)
        : target(target_)
        , limits(limits_)
    {
        zip_error_init(&error);
    }
    ~Output() { zip_error_fini(&error); }

    bool flush()
    {
        size_t done = 0;
        while (done < buffer.size()) {
            ssize_t count = ::pwrite(staging->fileDescriptor(), buffer.data() + done, buffer.size() - done,
                                     static_cast<off_t>(bufferStart + done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return fail(KVDocumentArchiveError::unknown(kx::Error::fromErrno(errno, "Cannot write " + target.string())), ZIP_ER_WRITE);
            done += static_cast<size_t>(count);
        }
        bufferStart += buffer.size();
        buffer.clear();
        return true;
    }

    template <class Failure>
    bool fail(Failure cause, int code)
    {
        if (!failure)
            failure = std::make_exception_ptr(std::move(cause));
        zip_error_set(&error, code, EIO);
        return false;
    }

    // The package as written must pass the reader's checks before it replaces anything.
    bool commit()
    {
        if (!flush())
            return false;
        try {
            KVZipDirectory::read(staging->fileDescriptor(), length, limits, target.string());
        } catch (const KVDocumentArchiveError& refused) {
            return fail(KVDocumentArchiveError::unknown(kx::Error(
                            KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
                            "The project “" + KVArchivePath::displayName(target.filename().string()) + "” can’t be saved as a package that would open again.",
                            refused.error().localizedFailureReason,
                            "A file may have changed while it was saved; save again.")),
                        ZIP_ER_WRITE);
        }
        try {
            staging->commit();
        } catch (const KVDocumentArchiveError& error) {
            if (!error.newVersionInPlace())
                return fail(error, ZIP_ER_WRITE);
            inPlace = std::current_exception();
        }
        return true;
    }

    std::filesystem::path target;
    KVZipLimits limits;
    std::optional<KVSaveStaging> staging;
    std::vector<std::byte> buffer;
    std::uint64_t bufferStart = 0;
    std::uint64_t position = 0;
    std::uint64_t length = 0;
    std::exception_ptr failure;
    // The package is in place but its flush failed: thrown once libzip is done.
    std::exception_ptr inPlace;
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
        try {
            output.staging.reset();
            output.staging.emplace(output.target, KVSaveStaging::Kind::file);
        } catch (const KVDocumentArchiveError& error) {
            output.fail(error, ZIP_ER_OPEN);
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
        return output.commit() ? 0 : -1;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        output.buffer.clear();
        output.staging.reset();
        return 0;
    case ZIP_SOURCE_REMOVE:
        // libzip removes a package left without entries; we keep an empty zip file instead.
        try {
            KVZipWriter::writeEmpty(output.target);
        } catch (const KVDocumentArchiveError& error) {
            if (!error.newVersionInPlace()) {
                output.fail(error, ZIP_ER_WRITE);
                return -1;
            }
            output.inPlace = std::current_exception();
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

KVDocumentArchiveError refusal(const std::filesystem::path& target, const std::string& what, const std::string& reason,
                               const std::string& suggestion = {})
{
    return KVDocumentArchiveError::unknown(kx::Error(KVDocumentArchiveError::domain,
                                                     static_cast<int>(KVDocumentArchiveError::Code::unknown),
                                                     "The project “" + KVArchivePath::displayName(target.filename().string()) + "” " + what,
                                                     reason, suggestion));
}

KVDocumentArchiveError writeFailure(const std::filesystem::path& target, const std::string& reason)
{
    return refusal(target, "couldn’t be saved.", reason);
}

} // namespace

KVZipWriter::KVZipWriter(std::filesystem::path target, const KVZipLimits& limits)
    : target_(std::move(target))
    , limits_(limits)
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
    entry->store = isAlreadyCompressed(entry->name) || (size && *size > limits_.ratioAllowance);
    zip_error_init(&entry->error);
    entries_.push_back(std::move(entry));
}

void KVZipWriter::commit()
{
    // What the reader would refuse is refused before anything is written.
    if (entries_.size() > limits_.maximumEntries)
        throw refusal(target_, "can’t be saved because it has too many files.",
                      "A project package holds at most " + std::to_string(limits_.maximumEntries) + " files with its manifest; this one would hold "
                          + std::to_string(entries_.size()) + ".",
                      "Remove files from the project and save again.");
    std::uint64_t directoryLength = 0, bytes = 0;
    for (const auto& entry : entries_) {
        std::uint64_t size = entry->size.value_or(0);
        directoryLength += 46 + entry->name.size() + (size >= 0xFFFFFFFF ? 28 : 0);
        bytes += size;
    }
    if (directoryLength > limits_.maximumDirectoryLength)
        throw refusal(target_, "can’t be saved because its file names take too much room.",
                      "The names of a project package’s files may take at most " + std::to_string(limits_.maximumDirectoryLength >> 20)
                          + " MB in all.",
                      "Remove files from the project, or shorten long folder and file names, and save again.");
    if (bytes > limits_.maximumInflatedBytes)
        throw refusal(target_, "can’t be saved because it is too large.",
                      "A project package holds at most " + std::to_string(limits_.maximumInflatedBytes >> 30) + " GB.",
                      "Remove large files from the project and save again.");

    Output output(target_, limits_);
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
            std::rethrow_exception(output.failure);
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
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), entry->store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 entry->store ? 0 : compressionLevel);
        zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX, 0100644u << 16);
    }
    if (zip_close(archive) != 0)
        abandon(zip_strerror(archive));
    zip_error_fini(&error);
    if (output.failure)
        std::rethrow_exception(output.failure);
    if (output.inPlace)
        std::rethrow_exception(output.inPlace);
}

void KVZipWriter::writeEmpty(const std::filesystem::path& target)
{
    static constexpr std::byte endRecord[22] = {std::byte{'P'}, std::byte{'K'}, std::byte{5}, std::byte{6}};
    KVSaveStaging staging(target, KVSaveStaging::Kind::file);
    if (::write(staging.fileDescriptor(), endRecord, sizeof(endRecord)) != static_cast<ssize_t>(sizeof(endRecord)))
        throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(errno ? errno : EIO, "Cannot write " + target.string()));
    staging.commit();
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
