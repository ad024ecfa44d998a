// The system beep, sounded for the page.
#pragma once

#include "Services/runtime/Service.h"

namespace kx::Beep {

class Interface {
public:
    virtual ~Interface() = default;
    // Sounds the beep.
    virtual void beep(CompletionHandler<Unit> completionHandler) = 0;
};

using Service = GeneratedService<Interface>;

const Service& service();

} // namespace kx::Beep
