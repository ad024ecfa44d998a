// A tutorial's steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"

namespace kx::TutorialDocument {

struct Step {
    std::vector<std::string> show;
    std::optional<std::vector<std::string>> center;
    std::optional<double> zoom;
    KX_RECORD(Step, show, center, zoom)
};

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::TutorialDocument
