#include "App/exchange/RenderedHTMLCache.h"

namespace kx {

RenderedHTMLCache::RenderedHTMLCache()
    : RenderedHTMLCache(defaultLimit)
{
}

RenderedHTMLCache::RenderedHTMLCache(std::size_t limit)
    : limit_(limit)
{
}

RenderedHTMLCache::Data RenderedHTMLCache::object(const std::string& key)
{
    std::lock_guard lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, found->second.position);
    return found->second.data;
}

void RenderedHTMLCache::setObject(Data data, const std::string& key)
{
    if (!data) {
        removeObject(key);
        return;
    }
    // What is pushed out is released after the lock, in case it is large.
    std::vector<Data> released;
    {
        std::lock_guard lock(mutex_);
        if (auto found = entries_.find(key); found != entries_.end()) {
            released.push_back(std::move(found->second.data));
            found->second.data = std::move(data);
            order_.splice(order_.begin(), order_, found->second.position);
            return;
        }
        if (limit_ == 0)
            return;
        while (entries_.size() >= limit_) {
            auto oldest = entries_.find(order_.back());
            released.push_back(std::move(oldest->second.data));
            entries_.erase(oldest);
            order_.pop_back();
        }
        order_.push_front(key);
        entries_.emplace(key, Entry{std::move(data), order_.begin()});
    }
}

void RenderedHTMLCache::removeObject(const std::string& key)
{
    Data released;
    std::lock_guard lock(mutex_);
    if (auto found = entries_.find(key); found != entries_.end()) {
        released = std::move(found->second.data);
        order_.erase(found->second.position);
        entries_.erase(found);
    }
}

void RenderedHTMLCache::clear()
{
    std::unordered_map<std::string, Entry> released;
    std::lock_guard lock(mutex_);
    released.swap(entries_);
    order_.clear();
}

std::size_t RenderedHTMLCache::count() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

} // namespace kx
