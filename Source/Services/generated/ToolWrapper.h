// Tool actions; the integer codes are the page's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::ToolWrapper {

enum class ToolActionType { tool, booleanOp, pointType, exitMode };
KX_RAW_ENUM(ToolActionType, tool, booleanOp, pointType, exitMode)

struct ToolActionEvent {
    enum class TypeEnum { tool, booleanOp, pointType, exitMode };
    friend KX_RAW_ENUM(TypeEnum, tool, booleanOp, pointType, exitMode)

    struct Value_tool {
        std::int64_t action;
        KX_CASE(Value_tool, "tool", action)
    };
    struct Value_booleanOp {
        std::int64_t action;
        KX_CASE(Value_booleanOp, "booleanOp", action)
    };
    struct Value_pointType {
        std::int64_t action;
        KX_CASE(Value_pointType, "pointType", action)
    };
    struct Value_exitMode {
        KX_CASE(Value_exitMode, "exitMode")
    };

    static constexpr std::string_view tagKey = "type";
    std::variant<Value_tool, Value_booleanOp, Value_pointType, Value_exitMode> value;
};

// No methods: the page exchanges these values by other means.
#define KX_ToolWrapper_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)

KX_SERVICE_INTERFACE(KX_ToolWrapper_METHODS)

} // namespace kx::ToolWrapper
