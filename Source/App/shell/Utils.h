// Letter numbering for generated names: 0 is "A", 25 "Z", 26 "AA", 701 "ZZ", 702 "AAA".
#pragma once

#include <cstdint>
#include <string>

namespace kx {

class Utils {
public:
    // Bijective base 26 counted from zero. Negative numbers have no letters: "".
    static std::string intToAZ(std::int64_t n);
};

} // namespace kx
