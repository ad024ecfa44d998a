#include "App/server/ServerState.h"

#include <algorithm>

namespace kx {

namespace {

Error decodingError(std::string_view what)
{
    std::string description = "The project server's state cannot be read: ";
    description.append(what).append(".");
    return Error(ServerState::errorDomain, 1, std::move(description));
}

Error fieldError(std::string_view key, std::string_view problem)
{
    std::string what = "\"";
    what.append(key).append("\" ").append(problem);
    return decodingError(what);
}

// Reads `key` of `object` into `out` when it has the JSON type `isType` asks for; a missing or
// null value leaves `out` alone and counts as absent.
template <class T, class IsType>
std::optional<Error> readOptional(const nlohmann::json& object, const char* key, IsType isType, std::optional<T>& out)
{
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return std::nullopt;
    if (!isType(*found))
        return fieldError(key, "has the wrong type");
    out = found->template get<T>();
    return std::nullopt;
}

std::optional<Error> readBoolean(const nlohmann::json& object, const char* key, bool& out)
{
    auto found = object.find(key);
    if (found == object.end() || !found->is_boolean())
        return fieldError(key, "must be a Boolean");
    out = found->get<bool>();
    return std::nullopt;
}

// A flag the server may leave out: missing or null reads as false.
std::optional<Error> readFlag(const nlohmann::json& object, const char* key, bool& out)
{
    std::optional<bool> value;
    auto error = readOptional(object, key, [](const nlohmann::json& v) { return v.is_boolean(); }, value);
    out = value.value_or(false);
    return error;
}

const auto isString = [](const nlohmann::json& value) { return value.is_string(); };

} // namespace

Result<LiveSharingState, Error> LiveSharingState::decode(const nlohmann::json& json)
{
    using R = Result<LiveSharingState, Error>;
    if (!json.is_object())
        return R::failure(decodingError("\"liveSharing\" must be an object"));
    LiveSharingState state;
    auto status = json.find("status");
    if (status == json.end() || !status->is_string())
        return R::failure(decodingError("\"liveSharing.status\" must be a text"));
    state.status = status->get<std::string>();
    if (auto error = readOptional(json, "url", isString, state.url))
        return R::failure(*error);
    return R::success(std::move(state));
}

Result<ServerState, Error> ServerState::decode(const nlohmann::json& json)
{
    using R = Result<ServerState, Error>;
    if (!json.is_object())
        return R::failure(decodingError("not an object"));
    ServerState state;
    if (auto error = readBoolean(json, "doneFirstInstall", state.doneFirstInstall))
        return R::failure(*error);
    // Servers that report no inspector findings leave both flags out.
    for (auto [key, field] : {std::pair{"previewInspectorHasErrors", &state.previewInspectorHasErrors},
                              std::pair{"previewInspectorHasWarnings", &state.previewInspectorHasWarnings}})
        if (auto error = readFlag(json, key, *field))
            return R::failure(*error);
    if (auto error = readOptional(json, "currentLibraryVersion", isString, state.currentLibraryVersion))
        return R::failure(*error);
    if (auto error = readOptional(json, "builtInLibraryVersion", isString, state.builtInLibraryVersion))
        return R::failure(*error);
    const auto isTextList = [](const nlohmann::json& value) {
        return value.is_array() && std::all_of(value.begin(), value.end(), [](const auto& v) { return v.is_string(); });
    };
    if (auto error = readOptional(json, "availableLibraryVersions", isTextList, state.availableLibraryVersions))
        return R::failure(*error);
    auto sharing = json.find("liveSharing");
    if (sharing == json.end())
        return R::failure(decodingError("\"liveSharing\" is missing"));
    auto liveSharing = LiveSharingState::decode(*sharing);
    if (liveSharing.isFailure())
        return R::failure(liveSharing.error());
    state.liveSharing = std::move(liveSharing).get();
    return R::success(std::move(state));
}

} // namespace kx
