// The frame that presents a tutorial.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"

namespace kx::TutorialFrame {

struct PresentationData {
    std::string presentationJSON; // JSON text carried as a string
    KX_RECORD(PresentationData, presentationJSON)
};

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::TutorialFrame
