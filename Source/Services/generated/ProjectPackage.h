// The project as a package: dependencies, readme, design assets, publishing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/runtime/UnsafeJSON.h"

namespace kx::ProjectPackage {

struct UploadDesignAssetArgs {
    std::string encodedContent;
    std::string fileName;
    KX_RECORD(UploadDesignAssetArgs, encodedContent, fileName)
};
struct UploadReadmeArgs {
    std::string readme;
    KX_RECORD(UploadReadmeArgs, readme)
};
struct FetchReadmeResponse {
    std::string readme;
    KX_RECORD(FetchReadmeResponse, readme)
};
struct AddDependencyArgs {
    std::string packageName;
    KX_RECORD(AddDependencyArgs, packageName)
};
struct PublishPackageArgs {
    std::string version;
    std::string displayName;
    std::string packageName;
    std::string slug;
    bool isPrivate = false;
    KX_RECORD(PublishPackageArgs, version, displayName, packageName, slug, isPrivate)
};
struct FetchPackageJsonResponse {
    UnsafeJSON package;
    KX_RECORD(FetchPackageJsonResponse, package)
};

// Served and called by the pages; nothing native registers or calls it.
#define KX_ProjectPackage_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                  \
    WITH_ARGUMENT(addDependency, AddDependencyArgs, Unit)                                           \
    WITHOUT_ARGUMENT(fetchReadme, FetchReadmeResponse)                                              \
    WITH_ARGUMENT(uploadReadme, UploadReadmeArgs, Unit)                                             \
    WITH_ARGUMENT(uploadDesignAsset, UploadDesignAssetArgs, Unit)                                   \
    WITH_ARGUMENT(publishPackage, PublishPackageArgs, Unit)                                         \
    WITHOUT_ARGUMENT(fetchPackageJson, FetchPackageJsonResponse)

KX_SERVICE_INTERFACE(KX_ProjectPackage_METHODS)

} // namespace kx::ProjectPackage
