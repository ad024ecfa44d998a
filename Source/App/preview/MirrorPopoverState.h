// What the live-sharing popover shows: sharing unavailable, available, starting, active with
// its share address, stopping, or failed with an error. Each state has its message and its
// main button; the popover's views reflect them.
#pragma once

#include <optional>
#include <string>

#include "Platform/Foundation/Error.h"

namespace kx {

struct MirrorPopoverState {
    enum class Kind { active, error, unavailable, available, starting, stopping };

    static constexpr const char* genericMessage = "Preview your project on mobile devices with real-time updates.";
    static constexpr const char* activeMessage =
        "Scan the QR code with your camera to view on mobile, or open in browser.";
    static constexpr const char* linkPhrase = "open in browser";
    static constexpr const char* startFailedDescription = "Couldn't start Live Preview.";
    static constexpr const char* cocoaErrorDomain = "NSCocoaErrorDomain";

    Kind kind = Kind::unavailable;
    std::string url;   // active: the share address
    Error error;       // error
    // error: the start never came through (no answer in time, or the server went away), so
    // trying again may help.
    bool canRetry = false;

    static MirrorPopoverState active(std::string url) { return {Kind::active, std::move(url), {}, false}; }
    static MirrorPopoverState failed(Error error, bool canRetry = false)
    {
        return {Kind::error, {}, std::move(error), canRetry};
    }
    static MirrorPopoverState of(Kind kind) { return {kind, {}, {}, false}; }
    // The error of a start that did not succeed: "Couldn't start Live Preview.".
    static Error startFailedError() { return Error(cocoaErrorDomain, -1, startFailedDescription); }

    std::string message() const;
    std::string mainButtonTitle() const;
    bool mainButtonEnabled() const { return kind != Kind::starting && kind != Kind::stopping; }
    // A share address worth showing as a link and a QR code: an absolute http or https URL
    // with a host and nothing a browser would refuse (spaces, controls).
    static bool isShareURL(const std::string& url);

    friend bool operator==(const MirrorPopoverState&, const MirrorPopoverState&) = default;
};

} // namespace kx
