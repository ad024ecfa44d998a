// Images and assets the document no longer names.
#include "App/documents/container/KVContainerDiscardables.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <unordered_set>
#include <unistd.h>

#include <glib.h>
#include <nlohmann/json.hpp>

#include "App/documents/container/KVContainerFiles.h"
#include "App/documents/container/KVDocumentContainer.h"
#include "App/documents/container/KVNameMatcher.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t maximumDocumentLength = std::uint64_t(1) << 31;

// Every string of a JSON text (keys and values) as it decodes, one after the other with a NUL
// between them, so that a name written with escapes ("\/", "\u0041") is found as it reads.
// The SAX parser is iterative: a deeply nested hostile document cannot exhaust the stack.
class DecodedStrings : public nlohmann::json_sax<nlohmann::json> {
public:
    // Without `collect`, the parse only tells whether the text is JSON.
    explicit DecodedStrings(bool collect)
        : collect_(collect)
    {
    }
    std::string text;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t& value) override { return add(value); }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t& value) override { return add(value); }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool add(const std::string& value)
    {
        if (collect_) {
            text += value;
            text += '\0';
        }
        return true;
    }
    bool collect_;
};

// What the document says of `names`. It runs on a worker: a document of megabytes is read and
// searched there.
KVContainerDiscardables::NameUse findNamesInDocument(const fs::path& file, const std::vector<std::string>& names)
{
    auto document = KVContainerFiles::readRegularFile(file, maximumDocumentLength);
    if (!document.data)
        return {std::nullopt, "Couldn’t load " + std::string(KVDocumentArchive::relativePathForDocumentJSON) + " for image/asset cleanup", false};
    const std::string& text = *document.data;
    // A document that cannot be read (empty, cut short by a failed write, a merge conflict)
    // names nothing: it would mark every image and asset, and a save would leave them out of
    // the user's file. It marks nothing instead, and unmarks what an earlier document marked.
    DecodedStrings valid(false);
    if (!nlohmann::json::sax_parse(text, &valid, nlohmann::json::input_format_t::json, false))
        return {std::nullopt, "Couldn’t read " + std::string(KVDocumentArchive::relativePathForDocumentJSON) + " as JSON: no image or asset is marked for cleanup", true};
    if (names.empty())
        return {std::vector<bool>(), {}, false};

    // Each name in its composed and its decomposed Unicode form (NFC, NFD): a file name and the
    // document's text of it need not use the same one.
    std::vector<std::string> forms;
    std::vector<size_t> formOf;
    for (size_t index = 0; index < names.size(); ++index) {
        forms.push_back(names[index]);
        formOf.push_back(index);
        for (GNormalizeMode mode : {G_NORMALIZE_NFC, G_NORMALIZE_NFD}) {
            gchar* normal = g_utf8_normalize(names[index].data(), gssize(names[index].size()), mode);
            if (normal && names[index] != normal) {
                forms.emplace_back(normal);
                formOf.push_back(index);
            }
            g_free(normal);
        }
    }
    KVNameMatcher matcher(forms);
    std::vector<bool> found(forms.size(), false);
    matcher.search(text, found);
    if (std::find(found.begin(), found.end(), false) != found.end()) {
        DecodedStrings strings(true);
        nlohmann::json::sax_parse(text, &strings, nlohmann::json::input_format_t::json, false);
        matcher.search(strings.text, found);
    }
    std::vector<bool> used(names.size(), false);
    for (size_t form = 0; form < forms.size(); ++form)
        if (found[form])
            used[formOf[form]] = true;
    return {std::move(used), {}, false};
}

} // namespace

std::vector<std::string> KVContainerDiscardables::candidates(const ManifestEntries& projectManifestEntries)
{
    std::vector<std::string> names;
    for (const auto& folder : {std::string(KVDocumentArchive::relativePathForImages) + "/", std::string("design/assets/")}) {
        for (auto it = projectManifestEntries.lower_bound(folder); it != projectManifestEntries.end() && it->first.starts_with(folder); ++it) {
            std::string name = it->first.substr(folder.size());
            if (name.find('/') == std::string::npos)
                names.push_back(std::move(name));
        }
    }
    return names;
}

void KVContainerDiscardables::findNames(fs::path document, std::vector<std::string> names, Found found)
{
    ThreadPool::global().async([document = std::move(document), names = std::move(names), found = std::move(found)]() mutable {
        auto use = std::make_shared<NameUse>(findNamesInDocument(document, names));
        MainQueue::async([use, names = std::move(names), found = std::move(found)] { found(names, *use); });
    });
}

std::optional<Error> KVContainerDiscardables::awaitNames(fs::path record, std::vector<std::string> readNames)
{
    awaitedNames_ = {readNames.begin(), readNames.end()};
    record_ = std::move(record);
    if (awaitedNames_.empty()) {
        endWaiting();
        return std::nullopt;
    }
    return KVContainerFiles::replaceFile(record_, recordText(), true);
}

KVContainerDiscardables::Resumed KVContainerDiscardables::resumeWaiting(fs::path record, const std::vector<std::string>& candidates)
{
    awaitedNames_.clear();
    record_ = std::move(record);
    // A byte past the bound: a record that grew past it while it was read is refused too.
    auto kept = KVContainerFiles::readRegularFile(record_, maximumAwaitedNamesLength + 1);
    if (!kept.data && kept.error.code == ENOENT)
        return {};
    Resumed resumed;
    const std::string what = "The record of the names awaited by " + std::string(KVDocumentArchive::relativePathForDocumentJSON);
    if (kept.data ? kept.data->size() > maximumAwaitedNamesLength : kept.error.code == EFBIG)
        resumed.refused = what + " is longer than " + std::to_string(maximumAwaitedNamesLength >> 20) + " MB";
    else if (!kept.data)
        resumed.refused = what + " cannot be read (" + kept.error.localizedDescription + ")";
    else if (kept.data->empty() || kept.data->back() != '\0')
        resumed.refused = what + " is cut short";
    if (!resumed.refused.empty()) {
        // As the empty document did: whatever the record held, every image and asset waits.
        resumed.refused += ": every image and asset waits until the document names one";
        awaitedNames_.insert(candidates.begin(), candidates.end());
    } else {
        // Only the project's own names are kept: a record of a million names costs one pass over
        // its text, and no more memory than that text and the project's names.
        const std::unordered_set<std::string_view> project(candidates.begin(), candidates.end());
        const std::string_view text = *kept.data;
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\0', start);
            if (const auto name = text.substr(start, end - start); project.contains(name))
                awaitedNames_.emplace(name);
        }
    }
    if (awaitedNames_.empty())
        endWaiting();
    resumed.awaited = awaitedNames_.size();
    return resumed;
}

std::optional<Error> KVContainerDiscardables::keepWaitingIn(const fs::path& record) const
{
    if (awaitedNames_.empty())
        return std::nullopt;
    return KVContainerFiles::replaceFile(record, recordText(), true);
}

std::string KVContainerDiscardables::recordText() const
{
    // Names are file names: none holds a NUL.
    std::string text;
    for (const auto& name : awaitedNames_)
        text += name + '\0';
    return text;
}

void KVContainerDiscardables::endWaiting()
{
    awaitedNames_.clear();
    if (!record_.empty())
        ::unlink(record_.c_str());
}

void KVContainerDiscardables::apply(const std::vector<std::string>& names, const NameUse& use)
{
    if (use.clearMarks)
        projectRelativePathsToDiscard_.clear();
    if (!use.used)
        return;
    if (!awaitedNames_.empty()) {
        bool named = false;
        for (size_t index = 0; index < names.size() && !named; ++index)
            named = (*use.used)[index] && awaitedNames_.contains(names[index]);
        if (!named)
            return;
        endWaiting();
    }
    for (size_t index = 0; index < names.size(); ++index) {
        const std::string& name = names[index];
        std::vector<std::string> paths = {"design/assets/" + name, std::string(KVDocumentArchive::relativePathForImages) + "/" + name};
        for (int dimension : KVDocumentContainer::cachedImageDimensions)
            paths.push_back(std::string(KVDocumentArchive::relativePathForImageCaches) + "/" + std::to_string(dimension) + "/" + name);
        for (const auto& path : paths) {
            if ((*use.used)[index])
                projectRelativePathsToDiscard_.erase(path);
            else
                projectRelativePathsToDiscard_.insert(path);
        }
    }
}

} // namespace kx
