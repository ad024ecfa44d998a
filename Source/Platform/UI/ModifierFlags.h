// Modifier keys of a key event or of a menu item's key equivalent. The bit values are the
// ones the editor's accelerator notation is defined against, so a mask read from a page or a
// menu description keeps its meaning here.
#pragma once

#include <cstdint>

namespace kx {

enum class ModifierFlags : std::uint32_t {
    none = 0,
    shift = 1u << 17,
    control = 1u << 18,
    option = 1u << 19,
    command = 1u << 20,
};

constexpr ModifierFlags operator|(ModifierFlags a, ModifierFlags b)
{
    return static_cast<ModifierFlags>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}

constexpr ModifierFlags operator&(ModifierFlags a, ModifierFlags b)
{
    return static_cast<ModifierFlags>(static_cast<std::uint32_t>(a) & static_cast<std::uint32_t>(b));
}

constexpr ModifierFlags& operator|=(ModifierFlags& a, ModifierFlags b)
{
    return a = a | b;
}

// True when every flag of `flags` is in `mask`.
constexpr bool contains(ModifierFlags mask, ModifierFlags flags)
{
    return (mask & flags) == flags;
}

} // namespace kx
