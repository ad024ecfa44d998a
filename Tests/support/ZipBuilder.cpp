#include "support/ZipBuilder.h"

#include <fstream>

#include <zlib.h>

namespace kxtest {

namespace {

void put(std::string& out, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string stored(const ZipBuilder::Entry& entry)
{
    return entry.deflate ? ZipBuilder::deflated(entry.data) : entry.data;
}

} // namespace

ZipBuilder& ZipBuilder::add(Entry entry)
{
    entries_.push_back(std::move(entry));
    return *this;
}

ZipBuilder& ZipBuilder::add(const std::string& name, const std::string& data, bool deflate)
{
    Entry entry;
    entry.name = name;
    entry.data = data;
    entry.deflate = deflate;
    return add(std::move(entry));
}

ZipBuilder& ZipBuilder::zip64End(bool value)
{
    zip64End_ = value;
    return *this;
}

std::string ZipBuilder::deflated(const std::string& data)
{
    z_stream stream {};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::uint32_t ZipBuilder::crc32(const std::string& data)
{
    return static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string ZipBuilder::localRecord(const Entry& entry)
{
    std::string data = stored(entry);
    std::uint32_t crc = entry.crc.value_or(crc32(entry.data));
    std::uint64_t size = entry.declaredSize.value_or(entry.data.size());
    std::uint16_t flags = entry.flags | (entry.dataDescriptor ? 0x0008 : 0);
    std::string out;
    put(out, 0x04034b50, 4);
    put(out, entry.zip64 ? 45 : 20, 2);
    put(out, flags, 2);
    put(out, entry.deflate ? 8 : 0, 2);
    put(out, 0, 4); // time and date
    put(out, entry.dataDescriptor ? 0 : crc, 4);
    if (entry.dataDescriptor) {
        put(out, 0, 8);
    } else {
        put(out, entry.zip64 ? 0xFFFFFFFF : data.size(), 4);
        put(out, entry.zip64 ? 0xFFFFFFFF : size, 4);
    }
    put(out, entry.name.size(), 2);
    put(out, entry.zip64 ? 20 : 0, 2);
    out += entry.name;
    if (entry.zip64) {
        put(out, 0x0001, 2);
        put(out, 16, 2);
        put(out, size, 8);
        put(out, data.size(), 8);
    }
    out += data;
    if (entry.dataDescriptor) {
        put(out, 0x08074b50, 4);
        put(out, crc, 4);
        put(out, data.size(), 4);
        put(out, size, 4);
    }
    return out;
}

std::string ZipBuilder::build() const
{
    std::string out;
    std::vector<std::uint64_t> offsets;
    for (const auto& entry : entries_) {
        offsets.push_back(entry.omitLocal ? entry.centralOffset : out.size());
        if (!entry.omitLocal)
            out += localRecord(entry);
    }
    std::uint64_t directoryOffset = out.size();
    for (size_t i = 0; i < entries_.size(); ++i) {
        const auto& entry = entries_[i];
        std::uint64_t compressed = stored(entry).size();
        std::uint64_t size = entry.declaredSize.value_or(entry.data.size());
        put(out, 0x02014b50, 4);
        put(out, entry.madeBy, 2);
        put(out, entry.zip64 ? 45 : 20, 2);
        put(out, entry.flags | (entry.dataDescriptor ? 0x0008 : 0), 2);
        put(out, entry.deflate ? 8 : 0, 2);
        put(out, 0, 4);
        put(out, entry.crc.value_or(crc32(entry.data)), 4);
        put(out, entry.zip64 ? 0xFFFFFFFF : compressed, 4);
        put(out, entry.zip64 ? 0xFFFFFFFF : size, 4);
        put(out, entry.name.size(), 2);
        put(out, entry.zip64 ? 28 : 0, 2);
        put(out, 0, 2); // comment
        put(out, 0, 2); // disk
        put(out, 0, 2); // internal attributes
        put(out, entry.external, 4);
        put(out, entry.zip64 ? 0xFFFFFFFF : offsets[i], 4);
        out += entry.name;
        if (entry.zip64) {
            put(out, 0x0001, 2);
            put(out, 24, 2);
            put(out, size, 8);
            put(out, compressed, 8);
            put(out, offsets[i], 8);
        }
    }
    std::uint64_t directoryLength = out.size() - directoryOffset;
    if (zip64End_) {
        std::uint64_t recordOffset = out.size();
        put(out, 0x06064b50, 4);
        put(out, 44, 8);
        put(out, 45, 2);
        put(out, 45, 2);
        put(out, 0, 4);
        put(out, 0, 4);
        put(out, entries_.size(), 8);
        put(out, entries_.size(), 8);
        put(out, directoryLength, 8);
        put(out, directoryOffset, 8);
        put(out, 0x07064b50, 4);
        put(out, 0, 4);
        put(out, recordOffset, 8);
        put(out, 1, 4);
    }
    put(out, 0x06054b50, 4);
    put(out, 0, 4);
    put(out, zip64End_ ? 0xFFFF : entries_.size(), 2);
    put(out, zip64End_ ? 0xFFFF : entries_.size(), 2);
    put(out, zip64End_ ? 0xFFFFFFFF : directoryLength, 4);
    put(out, zip64End_ ? 0xFFFFFFFF : directoryOffset, 4);
    put(out, 0, 2);
    return out;
}

void ZipBuilder::write(const std::filesystem::path& path) const
{
    std::ofstream(path, std::ios::binary) << build();
}

} // namespace kxtest
