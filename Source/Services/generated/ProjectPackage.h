// The project as a package: dependencies, readme, design assets, publishing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/runtime/Service.h"
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

// No methods of this service are fixed on the native side; nothing native serves or calls it.
class Interface : public MethodlessInterface {};
using Service = GeneratedService<Interface>;
const Service& service();

} // namespace kx::ProjectPackage
