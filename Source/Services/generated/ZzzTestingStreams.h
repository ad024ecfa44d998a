// A testing service for event streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"

namespace kx::ZzzTestingStreams {

struct BeepEvent {
    std::string name;
    KX_RECORD(BeepEvent, name)
};

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::ZzzTestingStreams
