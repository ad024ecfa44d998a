#include "App/archive/KVDocumentArchiveManifestReader.h"

#include "App/archive/KVArchiveDecoder.h"
#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDataReader.h"
#include "Services/runtime/JSONScanner.h"

namespace kx {

namespace {

KVDocumentArchiveError invalid()
{
    return KVArchiveDecoder::corrupt("The manifest isn’t valid JSON.");
}

// A value decoded from the scanner's position: skipped first (the scanner's own stack, so
// nesting costs no call stack), then built, only as deep as a manifest's values go.
nlohmann::json value(JSONScanner& scanner, std::string_view text)
{
    scanner.skipWhitespace();
    std::size_t start = scanner.position();
    if (!scanner.skipValue())
        throw invalid();
    nlohmann::json result;
    JSONScanner piece(text.substr(start, scanner.position() - start));
    if (!piece.parseDocument(result, 2))
        throw KVArchiveDecoder::corrupt(piece.tooDeep() ? "The manifest is nested too deeply." : "The manifest isn’t valid JSON.");
    return result;
}

} // namespace

KVDocumentArchiveManifestReader::KVDocumentArchiveManifestReader(KVDataReader& source, std::uint64_t maximumLength,
                                                                 std::uint64_t filesWithoutCount,
                                                                 std::function<std::uint64_t()> heldFiles)
    : source_(source)
    , maximumLength_(maximumLength)
    , filesWithoutCount_(filesWithoutCount)
    , heldFiles_(std::move(heldFiles))
{
}

void KVDocumentArchiveManifestReader::fill(std::size_t count)
{
    while (!finished_ && text_.size() - position_ < count) {
        auto chunk = source_.read();
        if (chunk.empty()) {
            finished_ = true;
            break;
        }
        length_ += chunk.size();
        if (length_ > maximumLength_)
            throw KVArchiveDecoder::corrupt("The manifest is longer than " + std::to_string(maximumLength_ >> 20)
                                            + " MB, more than a project’s list of files can be.");
        if (position_ > (1u << 20)) {
            text_.erase(0, position_);
            position_ = 0;
        }
        text_.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    }
}

char KVDocumentArchiveManifestReader::peek()
{
    for (;;) {
        fill(1);
        while (position_ < text_.size()) {
            char c = text_[position_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                return c;
            ++position_;
        }
        if (finished_)
            return '\0';
    }
}

template <class Body>
void KVDocumentArchiveManifestReader::piece(Body&& body)
{
    peek();
    fill(longestPiece);
    std::string_view text = window();
    JSONScanner scanner(text);
    std::string name;
    if (!scanner.readString(&name) || !scanner.consume(':'))
        throw invalid();
    body(std::move(name), scanner, text);
    position_ += scanner.position();
}

void KVDocumentArchiveManifestReader::readFiles(KVDocumentArchiveManifest::Files& files)
{
    ++position_; // "{"
    if (peek() == '}') {
        ++position_;
        return;
    }
    std::uint64_t count = 0;
    for (;;) {
        piece([&](std::string path, JSONScanner& scanner, std::string_view text) {
            KVDocumentArchiveManifest::checkPath(path);
            auto entry = KVDocumentArchiveManifest::Entry::fromJSON(value(scanner, text), path);
            files.insert_or_assign(std::move(path), std::move(entry));
        });
        if (++count > filesWithoutCount_) {
            if (!held_)
                held_ = heldFiles_ ? heldFiles_() : 0;
            if (count > *held_)
                throw KVArchiveDecoder::corrupt("The manifest lists more files than the package holds.");
        }
        char next = peek();
        ++position_;
        if (next == '}')
            return;
        if (next != ',')
            throw invalid();
    }
}

KVDocumentArchiveManifest KVDocumentArchiveManifestReader::read()
{
    if (peek() != '{')
        throw KVArchiveDecoder::corrupt(finished_ && text_.empty() ? "The manifest is empty." : "The manifest is not a JSON object.");
    ++position_;
    KVDocumentArchiveManifest manifest;
    std::optional<nlohmann::json> uuid;
    if (peek() == '}') {
        ++position_;
    } else {
        for (;;) {
            bool files = false;
            piece([&](std::string name, JSONScanner& scanner, std::string_view text) {
                if (name == "files") {
                    scanner.skipWhitespace();
                    files = true;
                } else if (name == "uuid") {
                    uuid = value(scanner, text);
                } else if (!scanner.skipValue()) {
                    throw invalid();
                }
            });
            if (files) {
                // The last of equal names wins, as everywhere in our JSON.
                manifest.files.reset();
                char next = peek();
                if (next == '{') {
                    manifest.files.emplace();
                    readFiles(*manifest.files);
                } else if (next == 'n' && (fill(4), window().starts_with("null"))) {
                    position_ += 4;
                } else {
                    throw KVArchiveDecoder::corrupt("The manifest’s “files” is not an object.");
                }
            }
            char next = peek();
            ++position_;
            if (next == '}')
                break;
            if (next != ',')
                throw invalid();
        }
    }
    peek();
    if (position_ < text_.size())
        throw invalid();
    manifest.uuid = KVDocumentArchiveManifest::decodeUuid(uuid ? *uuid : nlohmann::json());
    return manifest;
}

} // namespace kx
