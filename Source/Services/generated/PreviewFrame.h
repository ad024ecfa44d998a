// The frame that shows a prototype: loading it, its updates and remote events.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::PreviewFrame {

struct LoadRequest {
    std::string projectURL;
    KX_RECORD(LoadRequest, projectURL)
};
struct LoadResponse {
    std::string canvas;
    std::string script;
    std::string preview;
    KX_RECORD(LoadResponse, canvas, script, preview)
};
struct SelectionLockRequest {
    std::optional<bool> force;
    KX_RECORD(SelectionLockRequest, force)
};
struct PreviewRemoteEventRequest {
    std::string event;
    std::optional<std::string> type;
    std::optional<std::string> uuid;
    KX_RECORD(PreviewRemoteEventRequest, event, type, uuid)
};
struct CanvasUpdateEvent {
    std::string content;
    KX_RECORD(CanvasUpdateEvent, content)
};
struct ScriptUpdateEvent {
    std::string content;
    KX_RECORD(ScriptUpdateEvent, content)
};
struct PreviewUpdateEvent {
    std::string content;
    KX_RECORD(PreviewUpdateEvent, content)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_PreviewFrame_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                    \
    WITH_ARGUMENT(load, LoadRequest, LoadResponse)                                                  \
    WITH_ARGUMENT(lockSelection, SelectionLockRequest, Unit)                                        \
    WITH_ARGUMENT(sendRemoteEvent, PreviewRemoteEventRequest, Unit)

KX_SERVICE_INTERFACE(KX_PreviewFrame_METHODS)

} // namespace kx::PreviewFrame
