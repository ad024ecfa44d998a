#include "App/documents/container/KVNameMatcher.h"

#include <algorithm>
#include <deque>

namespace kx {

KVNameMatcher::KVNameMatcher(const std::vector<std::string>& names)
    : nodes_(1)
    , duplicates_(names.size(), -1)
{
    for (size_t index = 0; index < names.size(); ++index) {
        if (names[index].empty())
            continue;
        std::int32_t node = 0;
        for (unsigned char c : names[index]) {
            std::int32_t next = child(node, c);
            if (next < 0) {
                next = static_cast<std::int32_t>(nodes_.size());
                auto& children = nodes_[node].children;
                children.insert(std::lower_bound(children.begin(), children.end(), std::make_pair(c, std::int32_t(-1))),
                                {c, next});
                nodes_.emplace_back();
            }
            node = next;
        }
        if (nodes_[node].output < 0)
            nodes_[node].output = static_cast<std::int32_t>(index);
        else
            duplicates_[index] = nodes_[node].output;
    }
    for (int c = 0; c < 256; ++c) {
        std::int32_t next = child(0, static_cast<unsigned char>(c));
        rootNext_[c] = next < 0 ? 0 : next;
    }
    // Breadth first: a node's fail link is its longest proper suffix that is also a prefix.
    std::deque<std::int32_t> queue;
    for (const auto& [c, next] : nodes_[0].children)
        queue.push_back(next);
    while (!queue.empty()) {
        std::int32_t node = queue.front();
        queue.pop_front();
        std::int32_t fail = nodes_[node].fail;
        nodes_[node].outputLink = nodes_[fail].output >= 0 ? fail : nodes_[fail].outputLink;
        for (const auto& [c, next] : nodes_[node].children) {
            nodes_[next].fail = node == 0 ? 0 : step(fail, c);
            queue.push_back(next);
        }
    }
}

std::int32_t KVNameMatcher::child(std::int32_t node, unsigned char c) const
{
    const auto& children = nodes_[node].children;
    auto found = std::lower_bound(children.begin(), children.end(), std::make_pair(c, std::int32_t(-1)));
    return found != children.end() && found->first == c ? found->second : -1;
}

std::int32_t KVNameMatcher::step(std::int32_t node, unsigned char c) const
{
    for (;;) {
        if (node == 0)
            return rootNext_[c];
        std::int32_t next = child(node, c);
        if (next >= 0)
            return next;
        node = nodes_[node].fail;
    }
}

void KVNameMatcher::search(std::string_view text, std::vector<bool>& found) const
{
    std::vector<bool> reported(nodes_.size(), false);
    std::int32_t node = 0;
    for (unsigned char c : text) {
        node = step(node, c);
        // A node's names are taken once; met again, it adds nothing.
        for (std::int32_t at = nodes_[node].output >= 0 ? node : nodes_[node].outputLink; at >= 0 && !reported[at];
             at = nodes_[at].outputLink) {
            reported[at] = true;
            found[static_cast<size_t>(nodes_[at].output)] = true;
        }
    }
    for (size_t index = 0; index < duplicates_.size(); ++index)
        if (duplicates_[index] >= 0 && found[static_cast<size_t>(duplicates_[index])])
            found[index] = true;
}

} // namespace kx
