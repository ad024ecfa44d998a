// The images and assets of a project folder that its document no longer names: left out of
// every save and removed when the container ends. Owns the marked paths; the search of the
// document runs on a worker and touches none of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "App/archive/KVDocumentArchive.h"
#include "Platform/Foundation/Error.h"

namespace kx {

class KVContainerDiscardables {
public:
    using ManifestEntries = KVDocumentArchive::Manifest::Files;

    // What the document says of a list of names: for each, whether it names it; nothing when
    // the document cannot be read, with the reason for the log.
    struct NameUse {
        std::optional<std::vector<bool>> used;
        std::string failure;
        // The document is no JSON: what an earlier one marked is unmarked.
        bool clearMarks = false;
    };
    using Found = std::function<void(const std::vector<std::string>& names, const NameUse& use)>;

    // Files directly in the images or assets folder among `projectManifestEntries`, by name.
    static std::vector<std::string> candidates(const ManifestEntries& projectManifestEntries);
    // Reads the document at `document` on a worker and looks for `names` in it; `found` runs
    // on the main loop.
    static void findNames(std::filesystem::path document, std::vector<std::string> names, Found found);

    // Marks every path of each unnamed name (the asset, the image and its cached copies) and
    // unmarks those of the named ones.
    void apply(const std::vector<std::string>& names, const NameUse& use);
    // The document was read from an empty file (a write cut short, a bad merge): it names none
    // of `readNames`, the images and assets read with it, which are the project's all the same.
    // Nothing is marked until a document names one of them; an empty list ends the wait. The
    // wait is kept in `record` too, since the next session reads what this one saved: a
    // document that names none of them either. The error is that of the record's write.
    std::optional<Error> awaitNames(std::filesystem::path record, std::vector<std::string> readNames);
    // A document read from a file with content: a wait that `record` kept goes on for those of
    // its names that are among `candidates`; without a record, nothing is awaited. A record
    // that cannot be trusted (unreadable, longer than maximumAwaitedNamesLength, or cut short)
    // keeps every candidate waiting, and `refused` says why.
    struct Resumed {
        std::size_t awaited = 0;
        std::string refused;
    };
    Resumed resumeWaiting(std::filesystem::path record, const std::vector<std::string>& candidates);
    // Writes the names still awaited to `record`, for a folder that takes the wait over; nothing
    // when none is.
    std::optional<Error> keepWaitingIn(const std::filesystem::path& record) const;
    const std::set<std::string>& projectRelativePathsToDiscard() const { return projectRelativePathsToDiscard_; }

    // The record of the wait in a project folder: hidden, so that no package takes it along.
    static constexpr std::string_view relativePathForAwaitedNames = ".awaited-names";
    // The record holds the names of one project's images and assets: 4 MB is 100,000 names of 40
    // bytes, about as many files as a project's manifest lists. A longer one is not read: like
    // one that cannot be read, it keeps every image and asset waiting.
    static constexpr std::uint64_t maximumAwaitedNamesLength = std::uint64_t(4) << 20;

private:
    void endWaiting();
    std::string recordText() const;

    std::set<std::string> projectRelativePathsToDiscard_;
    std::set<std::string> awaitedNames_;
    std::filesystem::path record_;
};

} // namespace kx
