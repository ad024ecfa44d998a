#include "App/shell/RunOnce.h"

namespace kx {

void runOnceForKey(const std::string& key, const std::function<bool()>& withBlock, UserDefaults& defaults)
{
    const std::string marker = "PDRunOnce." + key;
    if (defaults.boolForKey(marker))
        return;
    if (withBlock && withBlock())
        defaults.setBool(marker, true);
}

} // namespace kx
