// What the project server reports about itself with each "state" event.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/server/LiveSharingState.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

struct ServerState {
    bool doneFirstInstall = false;
    std::optional<std::string> currentLibraryVersion;
    std::optional<std::string> builtInLibraryVersion;
    std::optional<std::vector<std::string>> availableLibraryVersions;
    bool previewInspectorHasErrors = false;
    bool previewInspectorHasWarnings = false;
    LiveSharingState liveSharing;

    // Strict: "doneFirstInstall" and "liveSharing" are required; the inspector flags, the
    // optional texts and the list may be missing or null (a missing flag is false); every
    // present value must have its JSON type.
    static Result<ServerState, Error> decode(const nlohmann::json& json);
    friend bool operator==(const ServerState&, const ServerState&) = default;

    static constexpr const char* errorDomain = "ServerStateErrorDomain";
};

} // namespace kx
