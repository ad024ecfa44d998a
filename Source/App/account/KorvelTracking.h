// Usage events for the product's own tracker, sent through the hidden telemetry page to the
// current environment's "/track". Each event carries the signed-in user's id, or none, and
// this machine's anonymous identifier.
//
// Switches in the user defaults: with "PDTrackingDisabled" nothing is sent; with
// "PDDataCollectionDisabled" only events whose name begins with "active" are. The login token
// never travels in an event: a data value that contains it is replaced by "<hidden>".
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/UserDefaults.h"

namespace kx {

class KorvelTracking {
public:
    static constexpr const char* trackingDisabledKey = "PDTrackingDisabled";
    static constexpr const char* dataCollectionDisabledKey = "PDDataCollectionDisabled";
    // Larger events are dropped (with a line in the log): they are not usage data.
    static constexpr std::size_t maximumEventSize = 32 * 1024;

    static KorvelTracking& shared();

    explicit KorvelTracking(UserDefaults& defaults = UserDefaults::standard());

    // One usage event; `data` is an object (anything else is sent as {}).
    void track(const std::string& event, const nlohmann::json& data);
    // Tells the tracker who the signed-in user is.
    void identifyWithUserId(const std::string& userId, const nlohmann::json& data);

    // Whether an event of this name goes out under the current switches.
    bool allowsEvent(const std::string& event) const;

    // The payload for the collector (exposed for the stand-in's documentation and tests).
    nlohmann::json payload(const std::string& type, const std::string& event, const nlohmann::json& data,
                           const std::optional<std::string>& userId) const;

private:
    void send(nlohmann::json payload);

    UserDefaults& defaults_;
};

} // namespace kx
