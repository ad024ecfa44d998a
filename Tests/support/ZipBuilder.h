// Builds zip files byte by byte, so that tests can make exactly the damaged or hostile
// packages they need: any name, attributes, flags, checksums, offsets, Zip64 fields and data
// descriptors.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kxtest {

class ZipBuilder {
public:
    struct Entry {
        std::string name;
        std::string data;
        bool deflate = false;
        std::uint16_t flags = 0;
        std::uint16_t madeBy = (3 << 8) | 20; // Unix
        std::uint32_t external = 0100644u << 16;
        std::optional<std::uint32_t> crc;         // default: the data's
        std::optional<std::uint64_t> declaredSize; // default: the data's length
        bool dataDescriptor = false;
        bool zip64 = false;
        // Write no local record; the directory points at `centralOffset` instead.
        bool omitLocal = false;
        std::uint64_t centralOffset = 0;
    };

    ZipBuilder& add(Entry entry);
    ZipBuilder& add(const std::string& name, const std::string& data, bool deflate = false);
    // With Zip64 end records.
    ZipBuilder& zip64End(bool value = true);

    std::string build() const;
    void write(const std::filesystem::path& path) const;

    // The local header and data of an entry as `build` writes them, to embed in another.
    static std::string localRecord(const Entry& entry);
    static std::string deflated(const std::string& data);
    static std::uint32_t crc32(const std::string& data);

private:
    std::vector<Entry> entries_;
    bool zip64End_ = false;
};

} // namespace kxtest
