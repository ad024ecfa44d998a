#include "App/editor/NimbetError.h"

#include "App/editor/BaseNimbetViewController.h"

namespace kx::NimbetError {

namespace {

std::string description(Code code)
{
    switch (code) {
    case Code::viewControllerGone:
        return "The editor was closed before it handed over the document.";
    case Code::pageNotReady:
        return "The editor has not finished loading the document.";
    case Code::pageGone:
        return "The editor stopped before it handed over the document.";
    case Code::invalidDocument:
        return "The editor handed over something that is not a document.";
    case Code::pageFailed:
        return "The editor could not hand over the document.";
    case Code::pageNotAnswering:
        return "The editor did not hand over the document in time: it is busy or has stopped answering.";
    case Code::documentTooLarge:
        return "The document is too large to save: the editor hands over documents of up to "
            + std::to_string(BaseNimbetViewController::largestDocumentSize() >> 20) + " MiB.";
    }
    return "The editor could not hand over the document.";
}

} // namespace

Error error(Code code, std::optional<std::string> pageReason)
{
    return Error(domain, static_cast<std::int64_t>(code), description(code), pageReason.value_or(""),
                 code == Code::documentTooLarge
                     ? "Your changes are still in the editor. Make the document smaller, then save again."
                     : "Your changes are still in the editor. Try saving again.");
}

} // namespace kx::NimbetError
