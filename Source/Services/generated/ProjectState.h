// The state of an open project and its file changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/runtime/UnsafeJSON.h"

namespace kx::ProjectState {

struct OutdatedProps {
    std::string name;
    std::string current;
    std::string wanted;
    std::string latest;
    std::string type;
    KX_RECORD(OutdatedProps, name, current, wanted, latest, type)
};
struct State {
    std::optional<std::string> filename;
    UnsafeJSON tasks;
    std::optional<std::string> url;
    bool isDocumentDirty = false;
    std::vector<OutdatedProps> outdated;
    std::vector<std::string> packages;
    std::optional<std::string> builtInLibraryVersion;
    std::optional<std::string> currentLibraryVersion;
    std::optional<std::vector<std::string>> availableLibraryVersions;
    KX_RECORD(State, filename, tasks, url, isDocumentDirty, outdated, packages, builtInLibraryVersion,
              currentLibraryVersion, availableLibraryVersions)
};
struct FileChange {
    std::string relativePath;
    KX_RECORD(FileChange, relativePath)
};

// No methods: the page exchanges these values by other means.
#define KX_ProjectState_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)

KX_SERVICE_INTERFACE(KX_ProjectState_METHODS)

} // namespace kx::ProjectState
