// The renders of HTML that a document keeps for reuse (component thumbnails, export previews):
// the rendered bytes by a key that names what was rendered and how. At most `limit` entries;
// a new entry beyond that pushes out the one used longest ago. Callable from any thread, since
// the off-screen renderer's workers fill it.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kx {

class RenderedHTMLCache {
public:
    using Data = std::shared_ptr<const std::string>;
    static constexpr std::size_t defaultLimit = 1000;

    RenderedHTMLCache();
    explicit RenderedHTMLCache(std::size_t limit);
    RenderedHTMLCache(const RenderedHTMLCache&) = delete;
    RenderedHTMLCache& operator=(const RenderedHTMLCache&) = delete;

    // The render under `key`, which counts as a use; null when there is none.
    Data object(const std::string& key);
    // Keeps `data` under `key`, replacing what was there; null data removes the entry.
    void setObject(Data data, const std::string& key);
    void removeObject(const std::string& key);
    void clear();

    std::size_t count() const;
    std::size_t limit() const { return limit_; }

private:
    using Order = std::list<std::string>; // most recently used first
    struct Entry {
        Data data;
        Order::iterator position;
    };

    const std::size_t limit_;
    mutable std::mutex mutex_;
    Order order_;
    std::unordered_map<std::string, Entry> entries_;
};

} // namespace kx
