// A testing service without value types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::ZzzTestingBeep {

// Served and called by the pages; nothing native registers or calls it.
#define KX_ZzzTestingBeep_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                  \
    WITHOUT_ARGUMENT(beep, Unit)

KX_SERVICE_INTERFACE(KX_ZzzTestingBeep_METHODS)

} // namespace kx::ZzzTestingBeep
