// The feedback panel of a document: showing it, opening a thread, its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"

namespace kx::FeedbackDocument {

struct ToggleFeedbackRequest {
    std::optional<bool> force;
    KX_RECORD(ToggleFeedbackRequest, force)
};
struct OpenThreadRequest {
    std::string threadId;
    std::optional<std::string> commentId;
    KX_RECORD(OpenThreadRequest, threadId, commentId)
};
struct FeedbackStateEvent {
    bool isActive = false;
    bool hasUnreadFeedback = false;
    KX_RECORD(FeedbackStateEvent, isActive, hasUnreadFeedback)
};

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::FeedbackDocument
