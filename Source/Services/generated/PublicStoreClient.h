// The public package store as the pages use it: packages, lists, metadata, publishing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/runtime/UnsafeJSON.h"

namespace kx::PublicStoreClient {

struct Package {
    std::string icon;
    std::string artwork;
    std::string friendlyName;
    std::string readme;
    std::optional<std::string> license;
    std::string name;
    std::string author;
    std::string slug;
    std::string version;
    std::optional<std::string> updatedAt;
    std::vector<std::string> tags;
    std::int64_t size = 0;
    std::int64_t favorites = 0;
    std::int64_t downloads = 0;
    bool isPrivate = false;
    std::optional<bool> isFavorite;
    std::string publisherId;
    std::optional<UnsafeJSON> peerDependencies;
    KX_RECORD(Package, icon, artwork, friendlyName, readme, license, name, author, slug, version, updatedAt, tags, size,
              favorites, downloads, isPrivate, isFavorite, publisherId, peerDependencies)
};

struct PackageMeta {
    bool isPrivate = false;
    std::string url;
    std::string ownerId;
    std::string publisherId;
    KX_RECORD(PackageMeta, isPrivate, url, ownerId, publisherId)
};

struct PublishingError {
    std::string message;
    KX_RECORD(PublishingError, message)
};

struct PackageArray {
    std::vector<Package> packages;
    std::int64_t totalCount = 0;
    KX_RECORD(PackageArray, packages, totalCount)
};
struct ContainsPackageResponse {
    bool contained = false;
    KX_RECORD(ContainsPackageResponse, contained)
};
struct FetchMetaResponse {
    std::optional<PackageMeta> meta;
    UnsafeJSON dependenciesMeta;
    KX_RECORD(FetchMetaResponse, meta, dependenciesMeta)
};
struct FindByNameArgs {
    std::string packageName;
    KX_RECORD(FindByNameArgs, packageName)
};
struct ContainsPackageArgs {
    std::string friendlyName;
    KX_RECORD(ContainsPackageArgs, friendlyName)
};
struct ToggleFavoriteArgs {
    std::string packageName;
    bool favorite = false;
    KX_RECORD(ToggleFavoriteArgs, packageName, favorite)
};
struct FetchRecentsArgs {
    std::int64_t offset = 0;
    KX_RECORD(FetchRecentsArgs, offset)
};
struct FetchPackagesBySectionArgs {
    std::string section;
    std::int64_t offset = 0;
    KX_RECORD(FetchPackagesBySectionArgs, section, offset)
};
struct FetchPackagesByPublisherArgs {
    std::string publisherId;
    std::int64_t offset = 0;
    KX_RECORD(FetchPackagesByPublisherArgs, publisherId, offset)
};
struct FetchPackagesByPopularityArgs {
    std::int64_t offset = 0;
    std::int64_t days = 0;
    KX_RECORD(FetchPackagesByPopularityArgs, offset, days)
};
struct FetchFeaturedPackagesArgs {
    std::int64_t offset = 0;
    KX_RECORD(FetchFeaturedPackagesArgs, offset)
};
struct SearchArgs {
    std::int64_t offset = 0;
    std::string query;
    KX_RECORD(SearchArgs, offset, query)
};
struct GetPublishStatusArgs {
    std::string packageName;
    std::string version;
    bool isPrivate = false;
    KX_RECORD(GetPublishStatusArgs, packageName, version, isPrivate)
};
struct FetchPreflightArgs {
    std::optional<std::string> package;
    std::optional<std::string> displayName;
    std::optional<bool> publishing;
    std::optional<std::string> spaceId;
    KX_RECORD(FetchPreflightArgs, package, displayName, publishing, spaceId)
};
struct RemovePackageArgs {
    std::string packageName;
    KX_RECORD(RemovePackageArgs, packageName)
};
struct FetchMetaArgs {
    std::optional<std::string> name;
    std::optional<std::vector<std::string>> dependencies;
    KX_RECORD(FetchMetaArgs, name, dependencies)
};

// Tagged by "status"; the tags are the case names.
struct PublishStatus {
    enum class StatusEnum { pending, completed, rejected, error };
    friend KX_RAW_ENUM(StatusEnum, pending, completed, rejected, error)

    struct Value_pending {
        KX_CASE(Value_pending, "pending")
    };
    struct Value_completed {
        KX_CASE(Value_completed, "completed")
    };
    struct Value_rejected {
        PublishingError error;
        KX_CASE(Value_rejected, "rejected", error)
    };
    struct Value_error {
        UnsafeJSON error;
        KX_CASE(Value_error, "error", error)
    };

    static constexpr std::string_view tagKey = "status";
    std::variant<Value_pending, Value_completed, Value_rejected, Value_error> value;
};

// Tagged by "result"; the tags are the case names.
struct PreflightResponse {
    enum class ResultEnum { success, failure };
    friend KX_RAW_ENUM(ResultEnum, success, failure)

    struct Value_success {
        std::string suggestedVersion;
        std::string slug;
        std::string package;
        KX_CASE(Value_success, "success", suggestedVersion, slug, package)
    };
    struct Value_failure {
        std::string errorMessage;
        KX_CASE(Value_failure, "failure", errorMessage)
    };

    static constexpr std::string_view tagKey = "result";
    std::variant<Value_success, Value_failure> value;
};

// The store operations, one per argument record; the private store offers the same ones.
// Served and called by the pages; nothing native registers or calls it.
#define KX_PublicStoreClient_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                               \
    WITH_ARGUMENT(fetchMeta, PublicStoreClient::FetchMetaArgs, PublicStoreClient::FetchMetaResponse) \
    WITH_ARGUMENT(removePackage, PublicStoreClient::RemovePackageArgs, Unit)                        \
    WITH_ARGUMENT(fetchPreflight, PublicStoreClient::FetchPreflightArgs, PublicStoreClient::PreflightResponse) \
    WITH_ARGUMENT(getPublishStatus, PublicStoreClient::GetPublishStatusArgs, PublicStoreClient::PublishStatus) \
    WITH_ARGUMENT(search, PublicStoreClient::SearchArgs, PublicStoreClient::PackageArray)           \
    WITH_ARGUMENT(fetchFeaturedPackages, PublicStoreClient::FetchFeaturedPackagesArgs, PublicStoreClient::PackageArray) \
    WITH_ARGUMENT(fetchPackagesByPopularity, PublicStoreClient::FetchPackagesByPopularityArgs, PublicStoreClient::PackageArray) \
    WITH_ARGUMENT(fetchPackagesByPublisher, PublicStoreClient::FetchPackagesByPublisherArgs, PublicStoreClient::PackageArray) \
    WITH_ARGUMENT(fetchPackagesBySection, PublicStoreClient::FetchPackagesBySectionArgs, PublicStoreClient::PackageArray) \
    WITH_ARGUMENT(fetchRecents, PublicStoreClient::FetchRecentsArgs, PublicStoreClient::PackageArray) \
    WITH_ARGUMENT(toggleFavorite, PublicStoreClient::ToggleFavoriteArgs, Unit)                      \
    WITH_ARGUMENT(containsPackage, PublicStoreClient::ContainsPackageArgs, PublicStoreClient::ContainsPackageResponse) \
    WITH_ARGUMENT(findByName, PublicStoreClient::FindByNameArgs, PublicStoreClient::Package)

KX_SERVICE_INTERFACE(KX_PublicStoreClient_METHODS)

} // namespace kx::PublicStoreClient
