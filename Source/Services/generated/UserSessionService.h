// The signed-in user's identity and permissions, as the page knows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"
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

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::UserSessionService
