// Clipboard items as bytes on the desktop's clipboard: each item type is a target of its MIME
// name ("application/x-korvel-layers"), its bytes the item's text in UTF-8, or the JSON text
// of its object. Reading treats the bytes as any program's: limited in size and nesting, and
// refused when they are not what the type promises. Pure, so any thread may call it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Services/generated/Clipboard.h"

namespace kx::ClipboardItemCoding {

using Type = Clipboard::DataItem::TypeEnum;

// Larger items are not read: what another program offers must not take all memory.
inline constexpr std::size_t maximumItemSize = 64 * 1024 * 1024;

Type typeOf(const Clipboard::DataItem& item);
std::string_view targetName(Type type);
std::optional<Type> typeForTarget(std::string_view target);

// The item's bytes; none when it has none (text that is not UTF-8, a number that is not finite).
std::optional<std::string> encode(const Clipboard::DataItem& item);
// The item of that type, or none when the bytes are too many, not UTF-8 text, or (for the
// object types) not one JSON object within the decoder's nesting limit.
std::optional<Clipboard::DataItem> decode(Type type, std::string_view bytes);

} // namespace kx::ClipboardItemCoding
