// The errors of the editor window: the page that was asked for the document could not give
// it. Domain "NimbetErrorDomain"; each code has its own text for the alert.
#pragma once

#include <optional>
#include <string>

#include "Platform/Foundation/Error.h"

namespace kx::NimbetError {

inline constexpr const char* domain = "NimbetErrorDomain";

enum class Code {
    viewControllerGone = 1, // the editor window went before the page answered
    pageNotReady = 2,       // the page has not finished starting
    pageGone = 3,           // the page crashed or was replaced while it was asked
    invalidDocument = 4,    // the page answered with something that is not a document
    pageFailed = 5,         // the page said why it has no document
    pageNotAnswering = 6,   // the page is alive but gave no answer in time (busy, or hanging)
    documentTooLarge = 7,   // the page's answer passed the largest document the editor takes
};

// The page's own reason, when it gave one, stands as the failure reason.
Error error(Code code, std::optional<std::string> pageReason = std::nullopt);

} // namespace kx::NimbetError
