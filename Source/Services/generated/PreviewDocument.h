// The console of a preview: its log entries and the request that toggles it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::PreviewDocument {

struct PreviewLog {
    std::vector<std::string> data;
    std::string method;
    std::string id;
    KX_RECORD(PreviewLog, data, method, id)
};
struct PreviewLogsEvent {
    std::vector<PreviewLog> logs;
    KX_RECORD(PreviewLogsEvent, logs)
};
struct ToggleConsoleRequest {
    std::optional<bool> force;
    KX_RECORD(ToggleConsoleRequest, force)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_PreviewDocument_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                 \
    WITH_ARGUMENT(toggleConsole, ToggleConsoleRequest, Unit)                                        \
    WITHOUT_ARGUMENT(getLogs, PreviewLogsEvent)

KX_SERVICE_INTERFACE(KX_PreviewDocument_METHODS)

} // namespace kx::PreviewDocument
