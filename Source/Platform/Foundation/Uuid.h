// Random UUIDs as upper-case text (8-4-4-4-12 hexadecimal digits).
#pragma once

#include <string>
#include <string_view>

namespace kx::Uuid {

std::string make();
// True for text of the form 8-4-4-4-12 hexadecimal digits, either case.
bool isValid(std::string_view text);

} // namespace kx::Uuid
