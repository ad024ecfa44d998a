// Text helpers shared by the shell's windows and the export and cache code: MD5 digests as hex
// text and substrings addressed in UTF-16 code units.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// MD5 of the bytes before the first NUL, as 32 upper-case hex digits (the form C strings give).
std::string MD5String(std::string_view text);

// MD5 of every byte of `text`, NULs included, as 32 lower-case hex digits. Cache keys use it.
std::string md5String(std::string_view text);

// The part of UTF-8 `text` that starts `atCharacter` UTF-16 code units in and is `length` code
// units long: the offsets pages and regular-expression matches report. nullopt for negative or
// out-of-range offsets, for an end that splits a surrogate pair, and for text that is not UTF-8.
std::optional<std::string> utf16substring(std::string_view text, std::int64_t atCharacter, std::int64_t length);

} // namespace kx
