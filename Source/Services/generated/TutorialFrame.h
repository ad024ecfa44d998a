// The frame that presents a tutorial.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::TutorialFrame {

struct PresentationData {
    std::string presentationJSON; // JSON text carried as a string
    KX_RECORD(PresentationData, presentationJSON)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_TutorialFrame_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                   \
    WITH_ARGUMENT(present, PresentationData, Unit)

KX_SERVICE_INTERFACE(KX_TutorialFrame_METHODS)

} // namespace kx::TutorialFrame
