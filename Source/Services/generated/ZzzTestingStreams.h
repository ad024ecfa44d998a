// A testing service for event streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::ZzzTestingStreams {

struct BeepEvent {
    std::string name;
    KX_RECORD(BeepEvent, name)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_ZzzTestingStreams_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                               \
    WITH_ARGUMENT(emitBeep, BeepEvent, Unit)

KX_SERVICE_INTERFACE(KX_ZzzTestingStreams_METHODS)

} // namespace kx::ZzzTestingStreams
