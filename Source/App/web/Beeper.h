// The page's beep: the display's bell.
#pragma once

#include "Services/generated/Beep.h"

namespace kx {

class Beeper final : public Beep::Interface {
public:
    // Always succeeds.
    void beep(CompletionHandler<Unit> completionHandler) override;
};

} // namespace kx
