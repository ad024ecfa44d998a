// The owner of the editor's active tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"

namespace kx::ToolOwner {

struct ActiveToolEvent {
    std::int64_t activeTool = 0;
    bool visible = false;
    bool graphicMode = false;
    std::int64_t pointType = 0;
    std::int64_t booleanOpType = 0;
    KX_RECORD(ActiveToolEvent, activeTool, visible, graphicMode, pointType, booleanOpType)
};

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::ToolOwner
