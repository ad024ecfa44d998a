// A tutorial's steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::TutorialDocument {

struct Step {
    std::vector<std::string> show;
    std::optional<std::vector<std::string>> center;
    std::optional<double> zoom;
    KX_RECORD(Step, show, center, zoom)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_TutorialDocument_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                \
    WITH_ARGUMENT(showStep, Step, Unit)                                                             \
    WITHOUT_ARGUMENT(getStep, Step)

KX_SERVICE_INTERFACE(KX_TutorialDocument_METHODS)

} // namespace kx::TutorialDocument
