#include "App/shell/Utils.h"

#include <algorithm>

namespace kx {

std::string Utils::intToAZ(std::int64_t n)
{
    if (n < 0)
        return {};
    std::string letters;
    // Each step takes the last letter; q - 1 carries on with the letters before it.
    while (true) {
        const std::int64_t q = n / 26;
        letters.push_back(static_cast<char>('A' + (n - 26 * q)));
        if (q == 0)
            break;
        n = q - 1;
    }
    std::reverse(letters.begin(), letters.end());
    return letters;
}

} // namespace kx
