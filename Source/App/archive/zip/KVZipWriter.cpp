#include "App/archive/zip/KVZipWriter.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>

#include <zip.h>
#include <zlib.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVSaveStaging.h"
#include "App/archive/zip/KVZipDirectory.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

struct KVZipWriter::Entry {
    std::string name;
    Opener open;
    std::optional<std::uint64_t> size;
    bool store = false;
    Order order = Order::any;
    // Packed ahead by a worker: its place among the packed entries.
    std::optional<std::size_t> packed;
    Packing* packing = nullptr;
    // What the writer is handing libzip of a packed entry.
    std::vector<std::byte> block;
    size_t blockOffset = 0;
    std::unique_ptr<KVDataReader> reader;
    std::span<const std::byte> pending;
    std::exception_ptr* failure = nullptr;
    std::time_t time = 0;
    zip_error_t error;
};

// The package file as libzip writes it: buffered, positioned writes into the staged file,
// which commit checks and puts in place.
struct KVZipWriter::Output {
    Output(const std::filesystem::path& target_, const KVZipLimits& limits_, KVSaveStaging::Target expected_)
        : target(target_)
        , limits(limits_)
        , expected(expected_)
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
                return fail(KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot write " + target.string())), ZIP_ER_WRITE);
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
            return fail(KVDocumentArchiveError::unknown(Error(
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
    KVSaveStaging::Target expected;
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

// Deflates (or, for a stored entry, passes on) one entry's bytes a chunk at a time, with their
// CRC-32 as the zip file records it.
class Packer {
public:
    explicit Packer(KVZipWriter::Entry& entry, int level)
        : reader_(entry.open())
        , store_(entry.store)
    {
        if (!store_) {
            // Raw deflate, as a zip entry holds it; the same parameters as libzip's own.
            if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
                throw std::bad_alloc();
            deflating_ = true;
        }
    }
    ~Packer()
    {
        if (deflating_)
            deflateEnd(&stream_);
    }
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    using Emit = std::function<void(std::vector<std::byte>)>;
    // Packs the next chunk of the entry, handing on what it gives in blocks of at most
    // `blockSize` bytes; false once the entry is through.
    bool next(const Emit& emit)
    {
        auto chunk = reader_->read();
        if (!chunk.empty()) {
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size());
            size += chunk.size();
        }
        if (store_) {
            for (size_t at = 0; at < chunk.size(); at += blockSize) {
                auto piece = chunk.subspan(at, std::min(blockSize, chunk.size() - at));
                emit(std::vector<std::byte>(piece.begin(), piece.end()));
            }
            return !chunk.empty();
        }
        const int flush = chunk.empty() ? Z_FINISH : Z_NO_FLUSH;
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(chunk.data()));
        stream_.avail_in = static_cast<uInt>(chunk.size());
        for (;;) {
            std::vector<std::byte> out(blockSize);
            stream_.next_out = reinterpret_cast<Bytef*>(out.data());
            stream_.avail_out = static_cast<uInt>(out.size());
            int result = deflate(&stream_, flush);
            if (result == Z_STREAM_ERROR)
                throw std::runtime_error("deflate failed");
            const bool full = stream_.avail_out == 0;
            out.resize(out.size() - stream_.avail_out);
            if (!out.empty())
                emit(std::move(out));
            if (result == Z_STREAM_END || (flush == Z_NO_FLUSH && stream_.avail_in == 0 && !full))
                break;
        }
        return flush == Z_NO_FLUSH;
    }

    static constexpr size_t blockSize = 256 * 1024;

    std::uint32_t crc = static_cast<std::uint32_t>(crc32_z(0, nullptr, 0));
    std::uint64_t size = 0;

private:
    std::unique_ptr<KVDataReader> reader_;
    bool store_;
    bool deflating_ = false;
    z_stream stream_ {};
};

} // namespace

// Entries are packed (read, hashed by their readers, deflated) on every processor while libzip,
// on the committing thread, writes them one after the other in the order they were added. A
// worker takes the next entry in that order and holds at most `bound` bytes of it ahead of the
// writer, so memory stays bounded whatever the package's size. The first failure of any of
// them ends the save with that failure; the writer packs an entry itself when no worker is
// free to.
struct KVZipWriter::Packing {
    // A chunk of a large entry, deflated on its own (with the 32 KiB before it as its
    // dictionary, so that it compresses as well as in one stream) and ended on a byte boundary,
    // so that the pieces put together in order make one deflate stream.
    struct Piece {
        std::vector<std::byte> dictionary;
        std::vector<std::byte> input;
        std::vector<std::byte> output;
        std::size_t entry = 0;
        bool done = false;
    };

    struct Slot {
        std::deque<std::vector<std::byte>> blocks;
        std::size_t buffered = 0;
        bool finished = false;
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        // A large entry's pieces not yet handed to its blocks, in order; whether all were made.
        std::deque<std::shared_ptr<Piece>> pieces;
        bool piecesMade = false;
    };

    explicit Packing(std::vector<Entry*> entries)
        : entries(std::move(entries))
        , slots(this->entries.size())
    {
    }

    // A worker: deflates pieces of large entries first, else takes the next entry, until none
    // is left or the packing stopped.
    void work()
    {
        for (;;) {
            std::size_t index = 0;
            std::shared_ptr<Piece> piece;
            {
                std::unique_lock lock(mutex);
                // A new entry is taken only while what is packed ahead fits the budget.
                consumed.wait(lock, [&] {
                    return stopped || failure || !waiting.empty() || (next < entries.size() && total < totalBound)
                           || (next >= entries.size() && splitting == 0);
                });
                if (stopped || failure)
                    return;
                if (!waiting.empty()) {
                    piece = std::move(waiting.front());
                    waiting.pop_front();
                } else if (next < entries.size()) {
                    index = next++;
                } else {
                    return;
                }
            }
            try {
                if (piece) {
                    deflatePiece(*piece);
                    continue;
                }
                const auto& entry = *entries[index];
                if (!entry.store && entry.size && *entry.size > splitSize && startSplitting())
                    packInPieces(index);
                else
                    packWhole(index);
            } catch (const Stopped&) {
                return;
            } catch (...) {
                fail(std::current_exception());
                return;
            }
        }
    }

    void packWhole(std::size_t index)
    {
        Packer packer(*entries[index], compressionLevel);
        auto emit = [&](std::vector<std::byte> block) {
            std::unique_lock lock(mutex);
            if (stopped || failure)
                throw Stopped();
            deliver(index, std::move(block), nullptr);
            produced.notify_all();
            consumed.wait(lock, [&] { return stopped || failure || slots[index].buffered <= bound; });
        };
        while (packer.next(emit)) {
        }
        std::lock_guard lock(mutex);
        if (stopped || failure)
            throw Stopped();
        deliver(index, {}, &packer);
        produced.notify_all();
    }

    // One large entry at a time is cut into pieces that every worker deflates.
    bool startSplitting()
    {
        std::lock_guard lock(mutex);
        if (splitting)
            return false;
        ++splitting;
        return true;
    }

    // Reads a large entry (hashing it, on this thread) and hands its chunks on as pieces, at
    // most `piecesAhead` of them in flight; deflates pieces itself while it waits for room.
    void packInPieces(std::size_t index)
    {
        struct Done {
            Packing& packing;
            ~Done()
            {
                std::lock_guard lock(packing.mutex);
                --packing.splitting;
                packing.consumed.notify_all();
            }
        } done{*this};
        auto reader = entries[index]->open();
        auto crc = crc32_z(0, nullptr, 0);
        std::uint64_t size = 0;
        std::vector<std::byte> tail;
        for (;;) {
            auto chunk = reader->read();
            if (chunk.empty())
                break;
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size());
            size += chunk.size();
            auto piece = std::make_shared<Piece>();
            piece->entry = index;
            piece->dictionary = tail;
            piece->input.assign(chunk.begin(), chunk.end());
            tail.insert(tail.end(), chunk.begin() + static_cast<std::ptrdiff_t>(chunk.size() - std::min(chunk.size(), dictionarySize)), chunk.end());
            if (tail.size() > dictionarySize)
                tail.erase(tail.begin(), tail.end() - static_cast<std::ptrdiff_t>(dictionarySize));
            std::unique_lock lock(mutex);
            if (stopped || failure)
                throw Stopped();
            slots[index].pieces.push_back(piece);
            waiting.push_back(std::move(piece));
            consumed.notify_all();
            while (slots[index].pieces.size() >= piecesAhead || slots[index].buffered > bound) {
                if (stopped || failure)
                    throw Stopped();
                if (waiting.empty()) {
                    consumed.wait(lock);
                    continue;
                }
                auto mine = std::move(waiting.front());
                waiting.pop_front();
                lock.unlock();
                deflatePiece(*mine);
                lock.lock();
            }
        }
        std::lock_guard lock(mutex);
        if (stopped || failure)
            throw Stopped();
        auto& slot = slots[index];
        slot.piecesMade = true;
        slot.crc = static_cast<std::uint32_t>(crc);
        slot.size = size;
        deliverPieces(index);
    }

    void deflatePiece(Piece& piece)
    {
        z_stream stream {};
        if (deflateInit2(&stream, compressionLevel, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
        struct End {
            z_stream& stream;
            ~End() { deflateEnd(&stream); }
        } end{stream};
        if (!piece.dictionary.empty())
            deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(piece.dictionary.data()), static_cast<uInt>(piece.dictionary.size()));
        piece.output.resize(deflateBound(&stream, static_cast<uLong>(piece.input.size())) + 64);
        stream.next_in = reinterpret_cast<Bytef*>(piece.input.data());
        stream.avail_in = static_cast<uInt>(piece.input.size());
        std::size_t produced = 0;
        for (;;) {
            stream.next_out = reinterpret_cast<Bytef*>(piece.output.data() + produced);
            stream.avail_out = static_cast<uInt>(piece.output.size() - produced);
            if (deflate(&stream, Z_SYNC_FLUSH) == Z_STREAM_ERROR)
                throw std::runtime_error("deflate failed");
            produced = piece.output.size() - stream.avail_out;
            if (stream.avail_in == 0 && stream.avail_out != 0)
                break;
            piece.output.resize(piece.output.size() * 2);
        }
        piece.output.resize(produced);
        piece.output.shrink_to_fit();
        piece.input = std::vector<std::byte>();
        piece.dictionary = std::vector<std::byte>();
        std::lock_guard lock(mutex);
        piece.done = true;
        deliverPieces(piece.entry);
        consumed.notify_all();
    }

    // The writer: the next block of entry `index` into `out`; false once the entry is through.
    // Throws the packing's first failure.
    bool take(std::size_t index, std::vector<std::byte>& out)
    {
        std::unique_lock lock(mutex);
        auto& slot = slots[index];
        for (;;) {
            if (failure)
                std::rethrow_exception(failure);
            if (!slot.blocks.empty()) {
                out = std::move(slot.blocks.front());
                slot.blocks.pop_front();
                slot.buffered -= out.size();
                total -= out.size();
                consumed.notify_all();
                return true;
            }
            if (slot.finished)
                return false;
            if (next == index) {
                // No worker got to it: the writer packs it as it goes.
                ++next;
                ownIndex = index;
                lock.unlock();
                try {
                    own.emplace(*entries[index], compressionLevel);
                } catch (...) {
                    fail(std::current_exception());
                    throw;
                }
                lock.lock();
            }
            if (own && ownIndex == index) {
                lock.unlock();
                bool more;
                try {
                    more = own->next([&](std::vector<std::byte> block) {
                        std::lock_guard ownLock(mutex);
                        deliver(index, std::move(block), nullptr);
                    });
                    if (!more) {
                        std::lock_guard ownLock(mutex);
                        deliver(index, {}, &*own);
                    }
                } catch (...) {
                    own.reset();
                    fail(std::current_exception());
                    throw;
                }
                if (!more)
                    own.reset();
                lock.lock();
                continue;
            }
            produced.wait(lock);
        }
    }

    struct Outcome {
        bool finished = false;
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
    };
    Outcome outcome(std::size_t index)
    {
        std::lock_guard lock(mutex);
        const auto& slot = slots[index];
        return {slot.finished, slot.crc, slot.size};
    }

    void fail(std::exception_ptr error)
    {
        std::lock_guard lock(mutex);
        if (!failure)
            failure = std::move(error);
        produced.notify_all();
        consumed.notify_all();
    }

    void stop()
    {
        std::lock_guard lock(mutex);
        stopped = true;
        produced.notify_all();
        consumed.notify_all();
    }

    // Bytes one entry holds ahead of the writer before its worker waits, and bytes of all
    // entries past which no worker takes a new one. With a reader's chunk and a deflater per
    // worker, a save holds at most about totalBound + maximumWorkers * 2 MiB.
    static constexpr std::size_t bound = 2 * Packer::blockSize;
    static constexpr std::size_t totalBound = 4 * KVDataReader::chunkSize;
    static constexpr unsigned maximumWorkers = 12;

    std::vector<Entry*> entries;
    std::mutex mutex;
    std::condition_variable produced;
    std::condition_variable consumed;
    std::vector<Slot> slots;
    std::size_t next = 0;
    std::size_t total = 0;
    bool stopped = false;
    std::exception_ptr failure;
    std::optional<Packer> own;
    std::size_t ownIndex = 0;

    // Thrown out of a worker's packing when the save stopped.
    struct Stopped {};

    // Entries larger than this are cut into pieces of a reader's chunk.
    static constexpr std::uint64_t splitSize = 4 * KVDataReader::chunkSize;
    static constexpr std::size_t piecesAhead = 4;
    static constexpr std::size_t dictionarySize = 32 * 1024;
    std::deque<std::shared_ptr<Piece>> waiting;
    unsigned splitting = 0;

private:
    // Called with the mutex held: the pieces deflated, in order, become the entry's blocks; after
    // the last one, a final empty block ends its deflate stream.
    void deliverPieces(std::size_t index)
    {
        auto& slot = slots[index];
        while (!slot.pieces.empty() && slot.pieces.front()->done) {
            deliver(index, std::move(slot.pieces.front()->output), nullptr);
            slot.pieces.pop_front();
        }
        if (slot.pieces.empty() && slot.piecesMade && !slot.finished) {
            // BFINAL set, fixed Huffman codes, end of block.
            deliver(index, {std::byte{0x03}, std::byte{0x00}}, nullptr);
            slot.finished = true;
        }
        produced.notify_all();
    }

    // Called with the mutex held.
    void deliver(std::size_t index, std::vector<std::byte> block, const Packer* finished)
    {
        auto& slot = slots[index];
        if (block.capacity() > 2 * block.size())
            block.shrink_to_fit();
        slot.buffered += block.size();
        total += block.size();
        if (!block.empty())
            slot.blocks.push_back(std::move(block));
        if (finished) {
            slot.finished = true;
            slot.crc = finished->crc;
            slot.size = finished->size;
        }
    }
};

namespace {

// The commands an entry's source answers alike, packed ahead or read as it is written.
zip_int64_t otherCommand(KVZipWriter::Entry& entry, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
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
}

// Exceptions must not cross libzip: the first one is kept, and thrown again after zip_close.
zip_int64_t failed(KVZipWriter::Entry& entry)
{
    if (!*entry.failure)
        *entry.failure = std::current_exception();
    zip_error_set(&entry.error, ZIP_ER_READ, EIO);
    return -1;
}

// A packed entry as libzip reads it: already deflated (or stored), with its CRC once through.
zip_int64_t packedCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto& entry = *static_cast<KVZipWriter::Entry*>(userdata);
    try {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            entry.block.clear();
            entry.blockOffset = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            auto* out = static_cast<std::byte*>(data);
            zip_uint64_t done = 0;
            while (done < length) {
                if (entry.blockOffset == entry.block.size()) {
                    entry.blockOffset = 0;
                    if (!entry.packing->take(*entry.packed, entry.block)) {
                        entry.block = std::vector<std::byte>();
                        break;
                    }
                    continue;
                }
                size_t count = static_cast<size_t>(std::min<zip_uint64_t>(entry.block.size() - entry.blockOffset, length - done));
                std::memcpy(out + done, entry.block.data() + entry.blockOffset, count);
                entry.blockOffset += count;
                done += count;
                // Let go of a block as soon as it is through: libzip stops reading an entry of
                // known size at its end and may close it only at the very end.
                if (entry.blockOffset == entry.block.size()) {
                    entry.block = std::vector<std::byte>();
                    entry.blockOffset = 0;
                }
            }
            return static_cast<zip_int64_t>(done);
        }
        case ZIP_SOURCE_CLOSE:
            entry.block = std::vector<std::byte>();
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            const auto slot = entry.packing->outcome(*entry.packed);
            stat->size = slot.finished ? slot.size : entry.size.value_or(0);
            stat->comp_method = entry.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
            stat->mtime = entry.time;
            stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_MTIME;
            if (slot.finished) {
                stat->crc = slot.crc;
                stat->valid |= ZIP_STAT_CRC;
            }
            return sizeof(*stat);
        }
        default:
            return otherCommand(entry, data, length, command);
        }
    } catch (...) {
        return failed(entry);
    }
}

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
        default:
            return otherCommand(entry, data, length, command);
        }
    } catch (...) {
        return failed(entry);
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
            output.staging.emplace(output.target, KVSaveStaging::Kind::file, output.expected);
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
    return KVDocumentArchiveError::unknown(Error(KVDocumentArchiveError::domain,
                                                 static_cast<int>(KVDocumentArchiveError::Code::unknown),
                                                 "The project “" + KVArchivePath::displayName(target.filename().string()) + "” " + what,
                                                 reason, suggestion));
}

KVDocumentArchiveError writeFailure(const std::filesystem::path& target, const std::string& reason)
{
    return refusal(target, "couldn’t be saved.", reason);
}

} // namespace

KVZipWriter::KVZipWriter(std::filesystem::path target, const KVZipLimits& limits, KVSaveStaging::Target expected)
    : target_(std::move(target))
    , limits_(limits)
    , expected_(expected)
{
}

KVZipWriter::~KVZipWriter()
{
    for (auto& entry : entries_)
        zip_error_fini(&entry->error);
}

void KVZipWriter::add(std::string name, Opener open, std::optional<std::uint64_t> size, Order order)
{
    auto entry = std::make_unique<Entry>();
    entry->name = std::move(name);
    entry->open = std::move(open);
    entry->size = size;
    entry->order = order;
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

    Output output(target_, limits_, expected_);
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

    // Entries of known size are packed ahead; the others (none of ours but the manifest, and
    // empty files) libzip reads and deflates itself when it gets to them, as before.
    std::vector<Entry*> packed;
    for (auto& entry : entries_)
        if (entry->order == Order::any && entry->size && *entry->size > 0) {
            entry->packed = packed.size();
            packed.push_back(entry.get());
        }
    Packing packing(std::move(packed));
    auto& pool = ThreadPool::bulk();
    // Declared after `packing`: gone (its workers stopped and joined) before it.
    std::optional<ThreadPool::Batch> workers;
    if (!packing.entries.empty())
        workers.emplace(pool, std::min<std::size_t>(packing.entries.size(), Packing::maximumWorkers),
                        [&packing](std::size_t) { packing.work(); });
    auto stopWorkers = [&] {
        packing.stop();
        workers.reset();
    };
    // On every way out, also an exception: no worker is left waiting for room.
    struct StopOnExit {
        std::function<void()> stop;
        ~StopOnExit() { stop(); }
    } stopOnExit{stopWorkers};

    std::exception_ptr failure;
    std::time_t now = std::time(nullptr);
    auto abandon = [&](const std::string& reason) {
        zip_discard(archive);
        stopWorkers();
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
        entry->packing = &packing;
        zip_source_t* data = zip_source_function(archive, entry->packed ? packedCallback : entryCallback, entry.get());
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
    stopWorkers();
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
        throw KVDocumentArchiveError::unknown(Error::fromErrno(errno ? errno : EIO, "Cannot write " + target.string()));
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

} // namespace kx
