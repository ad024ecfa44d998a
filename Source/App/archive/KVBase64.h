// Standard Base64 (RFC 4648, with padding), the text form of every byte field in the JSON the
// system writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::KVBase64 {

std::string encode(const std::vector<std::uint8_t>& bytes);
// nullopt for anything but canonical padded Base64 (no white space, no stray characters).
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

} // namespace kx::KVBase64
