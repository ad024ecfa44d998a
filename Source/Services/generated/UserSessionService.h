// The signed-in user's identity and permissions, as the page knows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/generated/KorvelServices.h"

namespace kx::UserSessionService {

struct PermissionsResponse {
    bool isViewOnly = false;
    KX_RECORD(PermissionsResponse, isViewOnly)
};
struct SessionIdentityResponse {
    KorvelServices::User user;
    KX_RECORD(SessionIdentityResponse, user)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_UserSessionService_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                              \
    WITHOUT_ARGUMENT(getSessionIdentity, SessionIdentityResponse)

KX_SERVICE_INTERFACE(KX_UserSessionService_METHODS)

} // namespace kx::UserSessionService
