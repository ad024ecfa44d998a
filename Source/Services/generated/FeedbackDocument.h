// The feedback panel of a document: showing it, opening a thread, its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

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

// Served and called by the pages; nothing native registers or calls it.
#define KX_FeedbackDocument_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                \
    WITH_ARGUMENT(toggleFeedback, ToggleFeedbackRequest, Unit)                                      \
    WITH_ARGUMENT(openThread, OpenThreadRequest, Unit)

KX_SERVICE_INTERFACE(KX_FeedbackDocument_METHODS)

} // namespace kx::FeedbackDocument
