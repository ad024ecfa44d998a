// The owner of the editor's active tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::ToolOwner {

struct ActiveToolEvent {
    std::int64_t activeTool = 0;
    bool visible = false;
    bool graphicMode = false;
    std::int64_t pointType = 0;
    std::int64_t booleanOpType = 0;
    KX_RECORD(ActiveToolEvent, activeTool, visible, graphicMode, pointType, booleanOpType)
};

// No methods: the page exchanges these values by other means.
#define KX_ToolOwner_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)

KX_SERVICE_INTERFACE(KX_ToolOwner_METHODS)

} // namespace kx::ToolOwner
