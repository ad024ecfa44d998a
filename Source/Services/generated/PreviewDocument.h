// The console of a preview: its log entries and the request that toggles it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"

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

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::PreviewDocument
