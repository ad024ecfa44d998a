// Desktop notifications: permission, posting and cancelling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"

namespace kx::UserNotifications {

enum class PermissionStatus { granted, denied, notDetermined };
KX_RAW_ENUM(PermissionStatus, granted, denied, notDetermined)

enum class NotificationShow { always, backgrounded };
KX_RAW_ENUM(NotificationShow, always, backgrounded)

struct Notification {
    std::string id;
    std::string title;
    std::optional<std::string> body;
    NotificationShow show = NotificationShow::always;
    KX_RECORD(Notification, id, title, body, show)
};

struct RequestPermissionResponse {
    PermissionStatus status = PermissionStatus::notDetermined;
    KX_RECORD(RequestPermissionResponse, status)
};
struct GetPermissionStatusResponse {
    PermissionStatus status = PermissionStatus::notDetermined;
    KX_RECORD(GetPermissionStatusResponse, status)
};
struct PostRequest {
    Notification notification;
    KX_RECORD(PostRequest, notification)
};
struct CancelRequest {
    std::string notificationId;
    KX_RECORD(CancelRequest, notificationId)
};

struct PostResponse {
    enum class TypeEnum { action, cancel };
    friend KX_RAW_ENUM(TypeEnum, action, cancel)

    struct Value_action {
        KX_CASE(Value_action, "action")
    };
    struct Value_cancel {
        std::string reason;
        KX_CASE(Value_cancel, "cancel", reason)
    };

    static constexpr std::string_view tagKey = "type";
    std::variant<Value_action, Value_cancel> value;
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_UserNotifications_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                               \
    WITHOUT_ARGUMENT(requestPermission, RequestPermissionResponse)                                  \
    WITHOUT_ARGUMENT(getPermissionStatus, GetPermissionStatusResponse)                              \
    WITH_ARGUMENT(post, PostRequest, PostResponse)                                                  \
    WITH_ARGUMENT(cancel, CancelRequest, Unit)

KX_SERVICE_INTERFACE(KX_UserNotifications_METHODS)

} // namespace kx::UserNotifications
