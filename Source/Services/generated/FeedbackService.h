// Comment threads pinned to the canvas or to a node, and their comments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/generated/KorvelServices.h"

namespace kx::FeedbackService {

struct Comment {
    KorvelServices::User author;
    std::string createdAt;
    std::optional<KorvelServices::User> deletedBy;
    std::string id;
    std::string text;
    std::optional<std::string> updatedAt;
    KX_RECORD(Comment, author, createdAt, deletedBy, id, text, updatedAt)
};

// Where a thread is pinned.
struct Anchor {
    enum class TypeEnum { canvas, node };
    friend KX_RAW_ENUM(TypeEnum, canvas, node)

    struct Value_canvas {
        std::int64_t x;
        std::int64_t y;
        KX_CASE(Value_canvas, "canvas", x, y)
    };
    struct Value_node {
        std::int64_t x;
        std::int64_t y;
        std::string nodeId;
        std::int64_t insetX;
        std::int64_t insetY;
        std::string insetCorner;
        KX_CASE(Value_node, "node", x, y, nodeId, insetX, insetY, insetCorner)
    };

    static constexpr std::string_view tagKey = "type";
    std::variant<Value_canvas, Value_node> value;
};

struct Thread {
    bool archived = false;
    std::vector<Comment> comments;
    std::string id;
    Anchor anchor;
    std::optional<std::string> seenUntil;
    std::optional<std::string> updatedAt;
    KX_RECORD(Thread, archived, comments, id, anchor, seenUntil, updatedAt)
};

struct GetThreadsRequest {
    bool archived = false;
    KX_RECORD(GetThreadsRequest, archived)
};
struct GetThreadsResponse {
    std::vector<Thread> threads;
    KX_RECORD(GetThreadsResponse, threads)
};
struct CreateThreadRequest {
    Anchor anchor;
    std::string text;
    KX_RECORD(CreateThreadRequest, anchor, text)
};
struct CreateThreadResponse {
    Thread thread;
    KX_RECORD(CreateThreadResponse, thread)
};
struct UpdateThreadRequest {
    std::string id;
    std::optional<bool> archived;
    std::optional<Anchor> anchor;
    KX_RECORD(UpdateThreadRequest, id, archived, anchor)
};
struct UpdateThreadResponse {
    Thread thread;
    KX_RECORD(UpdateThreadResponse, thread)
};
struct CreateCommentRequest {
    std::string threadId;
    std::string text;
    KX_RECORD(CreateCommentRequest, threadId, text)
};
struct CreateCommentResponse {
    Comment comment;
    KX_RECORD(CreateCommentResponse, comment)
};
struct UpdateCommentRequest {
    std::string id;
    std::string threadId;
    std::string text;
    KX_RECORD(UpdateCommentRequest, id, threadId, text)
};
struct UpdateCommentResponse {
    Comment comment;
    KX_RECORD(UpdateCommentResponse, comment)
};
struct DeleteCommentRequest {
    std::string id;
    std::string threadId;
    KX_RECORD(DeleteCommentRequest, id, threadId)
};
struct DeleteCommentResponse {
    Comment comment;
    KX_RECORD(DeleteCommentResponse, comment)
};
struct MarkAsSeenRequest {
    std::string threadId;
    std::string lastSeenCommentId;
    KX_RECORD(MarkAsSeenRequest, threadId, lastSeenCommentId)
};
struct MarkAsSeenResponse {
    Thread thread;
    KX_RECORD(MarkAsSeenResponse, thread)
};

// The thread operations of the feedback panel; each request pairs with the response of its name.
// Served and called by the pages; nothing native registers or calls it.
#define KX_FeedbackService_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                 \
    WITH_ARGUMENT(getThreads, GetThreadsRequest, GetThreadsResponse)                                \
    WITH_ARGUMENT(createThread, CreateThreadRequest, CreateThreadResponse)                          \
    WITH_ARGUMENT(updateThread, UpdateThreadRequest, UpdateThreadResponse)                          \
    WITH_ARGUMENT(createComment, CreateCommentRequest, CreateCommentResponse)                       \
    WITH_ARGUMENT(updateComment, UpdateCommentRequest, UpdateCommentResponse)                       \
    WITH_ARGUMENT(deleteComment, DeleteCommentRequest, DeleteCommentResponse)                       \
    WITH_ARGUMENT(markAsSeen, MarkAsSeenRequest, MarkAsSeenResponse)

KX_SERVICE_INTERFACE(KX_FeedbackService_METHODS)

} // namespace kx::FeedbackService
