// Reads a manifest file as it streams in, without holding its whole text or a JSON document of
// it: each file's entry is decoded as it comes, through the service layer's depth-limited JSON
// scanner. A hostile manifest costs at most its length cap in reading and its entries in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "App/archive/KVDocumentArchiveManifest.h"

namespace kx {

class KVDataReader;

class KVDocumentArchiveManifestReader {
public:
    // A manifest may list `filesWithoutCount` files, and past that no more than the package
    // holds: `heldFiles` is asked once, when that many were read.
    KVDocumentArchiveManifestReader(KVDataReader& source, std::uint64_t maximumLength, std::uint64_t filesWithoutCount,
                                    std::function<std::uint64_t()> heldFiles);

    // Throws KVArchiveDecoder::corrupt with the reason (text that is not a manifest, longer than
    // the cap, nested, or listing too many files), or the source's error.
    KVDocumentArchiveManifest read();

    // The longest stretch (a member name with its value) read in one piece; an honest one is a
    // few hundred bytes, an escaped path of PATH_MAX bytes some 25 KB.
    static constexpr std::size_t longestPiece = 256 << 10;

private:
    // Makes sure `count` bytes past the position are in the buffer, or the text ends sooner.
    void fill(std::size_t count);
    // Skips white space, however long.
    char peek();
    std::string_view window() const { return std::string_view(text_).substr(position_); }
    // Reads one member name and its ":" ; then `value` reads the value from a scanner.
    template <class Body>
    void piece(Body&& body);
    void readFiles(KVDocumentArchiveManifest::Files& files);

    KVDataReader& source_;
    std::uint64_t maximumLength_;
    std::uint64_t filesWithoutCount_;
    std::function<std::uint64_t()> heldFiles_;
    std::optional<std::uint64_t> held_;
    std::string text_;
    std::size_t position_ = 0;
    std::uint64_t length_ = 0;
    bool finished_ = false;
};

} // namespace kx
