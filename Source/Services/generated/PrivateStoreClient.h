// The private package store; its values are the public store's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/PublicStoreClient.h"
#include "Services/generated/ServiceDeclaration.h"

namespace kx::PrivateStoreClient {

// The same operations as the public store, on the same value types.
#define KX_PrivateStoreClient_METHODS KX_PublicStoreClient_METHODS

KX_SERVICE_INTERFACE(KX_PrivateStoreClient_METHODS)

} // namespace kx::PrivateStoreClient
