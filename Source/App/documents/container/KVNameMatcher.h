// Finds which of many names occur in a long text, in one pass over the text (Aho-Corasick),
// so that a document of many megabytes is read once however many images the project holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

class KVNameMatcher {
public:
    explicit KVNameMatcher(const std::vector<std::string>& names);

    // Marks in `found` (one flag per name, as given) every name that occurs in `text`;
    // `found` keeps flags set by earlier texts.
    void search(std::string_view text, std::vector<bool>& found) const;

private:
    struct Node {
        std::vector<std::pair<unsigned char, std::int32_t>> children; // sorted by byte
        std::int32_t fail = 0;
        std::int32_t output = -1;     // the first name that ends here
        std::int32_t outputLink = -1; // the next node on the fail chain that ends a name
    };
    std::int32_t child(std::int32_t node, unsigned char c) const;
    std::int32_t step(std::int32_t node, unsigned char c) const;

    std::vector<Node> nodes_;
    std::int32_t rootNext_[256];
    std::vector<std::int32_t> duplicates_; // per name: the index of an equal earlier name, or -1
};

} // namespace kx
