// A JSON object whose members are all of one type, kept in the order of the JSON text (a
// std::map would sort them): for data whose writer's order means something, such as a
// catalogue's devices, skins and hands.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

template <class T>
struct OrderedMap {
    std::vector<std::pair<std::string, T>> entries;

    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }
    auto begin() const { return entries.begin(); }
    auto end() const { return entries.end(); }
    const T* find(std::string_view key) const
    {
        for (const auto& [name, value] : entries) {
            if (name == key)
                return &value;
        }
        return nullptr;
    }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    std::vector<std::string> keys() const
    {
        std::vector<std::string> names;
        for (const auto& entry : entries)
            names.push_back(entry.first);
        return names;
    }
    friend bool operator==(const OrderedMap&, const OrderedMap&) = default;
};

} // namespace kx
