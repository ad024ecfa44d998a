// What the start window asks of the document controller: open a file (a recent document, a
// tutorial), make a new untitled document from a package (an example), a new document, the
// open panel, and showing an error. The document controller sets these when it starts; until
// then each one logs that documents are not available and fails or does nothing. Tests set
// them to see the calls. Main thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Platform/Foundation/Error.h"

namespace kx {

struct WelcomeDocumentHook {
    // Called once with the outcome of an open; none means it opened.
    using Completion = std::function<void(std::optional<Error> error)>;

    // Opens the file at `path` (a project, a legacy folder, a tutorial), showing its window
    // when `display` is true. The completion may be called later.
    std::function<void(const std::filesystem::path& path, bool display, Completion completion)> openDocument;
    // Makes a new untitled document whose contents come from the package at `path`, named
    // `displayName`, and shows it; the error when that failed.
    std::function<std::optional<Error>(const std::filesystem::path& path, const std::string& displayName)> openTemplate;
    std::function<void()> newDocument;
    std::function<void()> openPanel;
    // Tells the user about an error of an open.
    std::function<void(const Error& error)> presentError;

    // The hooks of the process, at first the ones that log and fail.
    static WelcomeDocumentHook& shared();
    // Puts back the hooks that log and fail.
    void reset();

    static constexpr const char* unavailableMessage = "documents are not available yet";
    // What a failed open gives until then: "Documents are not available yet." in the documents'
    // domain with its code for "not implemented" (KVDocumentError's notImplemented, which this
    // folder does not see; a test checks that the two agree).
    static constexpr const char* unavailableDomain = "KVDocumentErrorDomain";
    static constexpr std::int64_t unavailableCode = 10;
    static Error unavailableError();
};

} // namespace kx
