// libFuzzer target: arbitrary bytes as an inbound page message and as the body of every value
// type. Nothing may crash, hang or leak; whatever decodes must encode to a body that decodes
// again, so that native code can always answer with what it read; and our reader must accept
// exactly the texts that nlohmann's strict parser accepts (below the depth limit), reading the
// same document from them.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Services/generated/Clipboard.h"
#include "Services/generated/FeedbackDocument.h"
#include "Services/generated/FeedbackService.h"
#include "Services/generated/KorvelServices.h"
#include "Services/generated/PreviewDocument.h"
#include "Services/generated/PreviewFrame.h"
#include "Services/generated/PreviewRunner.h"
#include "Services/generated/ProjectPackage.h"
#include "Services/generated/ProjectState.h"
#include "Services/generated/PublicStoreClient.h"
#include "Services/generated/ToolOwner.h"
#include "Services/generated/ToolWrapper.h"
#include "Services/generated/TutorialDocument.h"
#include "Services/generated/TutorialFrame.h"
#include "Services/generated/UserNotifications.h"
#include "Services/generated/UserSessionService.h"
#include "Services/generated/ZzzTestingStreams.h"
#include "Services/generated/ZzzTestingTypes.h"
#include "Services/runtime/Discovery.h"
#include "Services/runtime/ServiceError.h"
#include "Services/runtime/JSONScanner.h"
#include "Services/runtime/JSONWriter.h"
#include "Services/runtime/UnsafeJSON.h"
#include "Services/runtime/channels/PostMessageChannel.h"

namespace {

using namespace kx;

template <class T>
void decodeAndRoundTrip(const ServiceChannel::MessageBody& body)
{
    auto decoded = ServiceValueHelper::decode<T>(body);
    if (decoded.isFailure())
        return;
    const auto again = ServiceValueHelper::toMessageBody(decoded.value());
    if (again.json == "undefined" || ServiceValueHelper::decode<T>(again).isFailure())
        std::abort();
}

template <class... T>
void decodeEach(const ServiceChannel::MessageBody& body)
{
    (decodeAndRoundTrip<T>(body), ...);
}

void decodeEveryType(const ServiceChannel::MessageBody& body)
{
    namespace K = KorvelServices;
    namespace F = FeedbackService;
    namespace P = PublicStoreClient;
    decodeEach<UnsafeJSON, Discovery::Info, K::Point, K::Size, K::User, K::Color, K::MenuAction, K::MenuValidationResult,
               K::MenuActionState, K::MenuDispatchResult, K::ContextMenu, K::MenuItemOptions, K::ContextMenuResult,
               K::MagnificationEventType, K::MagnificationEvent>(body);
    decodeEach<Clipboard::Write, Clipboard::ReadOptions, Clipboard::Read, Clipboard::DataItem,
               Clipboard::DataItem::TypeEnum>(body);
    decodeEach<F::Thread, F::Comment, F::Anchor, F::GetThreadsRequest, F::GetThreadsResponse, F::CreateThreadRequest,
               F::CreateThreadResponse, F::UpdateThreadRequest, F::UpdateThreadResponse, F::CreateCommentRequest,
               F::CreateCommentResponse, F::UpdateCommentRequest, F::UpdateCommentResponse, F::DeleteCommentRequest,
               F::DeleteCommentResponse, F::MarkAsSeenRequest, F::MarkAsSeenResponse>(body);
    decodeEach<FeedbackDocument::ToggleFeedbackRequest, FeedbackDocument::OpenThreadRequest,
               FeedbackDocument::FeedbackStateEvent>(body);
    decodeEach<PreviewDocument::ToggleConsoleRequest, PreviewDocument::PreviewLog, PreviewDocument::PreviewLogsEvent>(body);
    decodeEach<PreviewFrame::LoadRequest, PreviewFrame::LoadResponse, PreviewFrame::SelectionLockRequest,
               PreviewFrame::CanvasUpdateEvent, PreviewFrame::ScriptUpdateEvent, PreviewFrame::PreviewUpdateEvent,
               PreviewFrame::PreviewRemoteEventRequest>(body);
    decodeEach<PreviewRunner::Device, PreviewRunner::Presentation, PreviewRunner::State, PreviewRunner::Error>(body);
    decodeEach<ProjectPackage::AddDependencyArgs, ProjectPackage::FetchReadmeResponse, ProjectPackage::UploadReadmeArgs,
               ProjectPackage::UploadDesignAssetArgs, ProjectPackage::PublishPackageArgs,
               ProjectPackage::FetchPackageJsonResponse>(body);
    decodeEach<ProjectState::State, ProjectState::OutdatedProps, ProjectState::FileChange>(body);
    decodeEach<P::Package, P::PackageMeta, P::PackageArray, P::PublishStatus, P::PublishingError, P::PreflightResponse,
               P::FetchMetaArgs, P::FetchMetaResponse, P::RemovePackageArgs, P::FetchPreflightArgs, P::GetPublishStatusArgs,
               P::SearchArgs, P::FetchFeaturedPackagesArgs, P::FetchPackagesByPopularityArgs,
               P::FetchPackagesByPublisherArgs, P::FetchPackagesBySectionArgs, P::FetchRecentsArgs, P::ToggleFavoriteArgs,
               P::ContainsPackageArgs, P::ContainsPackageResponse, P::FindByNameArgs>(body);
    decodeEach<ToolOwner::ActiveToolEvent, ToolWrapper::ToolActionType, ToolWrapper::ToolActionEvent,
               TutorialDocument::Step, TutorialFrame::PresentationData>(body);
    decodeEach<UserNotifications::Notification, UserNotifications::NotificationShow, UserNotifications::PostRequest,
               UserNotifications::PostResponse, UserNotifications::CancelRequest, UserNotifications::PermissionStatus,
               UserNotifications::GetPermissionStatusResponse, UserNotifications::RequestPermissionResponse>(body);
    decodeEach<UserSessionService::PermissionsResponse, UserSessionService::SessionIdentityResponse,
               ZzzTestingStreams::BeepEvent, ZzzTestingTypes::Object, ZzzTestingTypes::ObjectEnum,
               ZzzTestingTypes::ObjectStringEnum>(body);

    // An error body never fails to read.
    (void)ServiceValueHelper::decode<ServiceError>(body);
}

// Our reader against nlohmann's: the same verdict and the same document. nlohmann skips a
// byte-order mark and takes a NUL byte for the end of its input; we refuse both.
void compareWithReference(std::string_view text)
{
    nlohmann::json ours;
    JSONScanner scanner(text);
    const bool accepted = scanner.parseDocument(ours, JSONDecoder::maximumDepth);
    if (!accepted && scanner.tooDeep())
        return;
    if (text.substr(0, 3) == "\xEF\xBB\xBF" || text.find('\0') != std::string_view::npos)
        return;
    nlohmann::json reference = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (accepted != !reference.is_discarded())
        std::abort();
    if (accepted && ours != reference)
        std::abort();
    // Strings go out as they came in.
    if (accepted && ours.is_string()) {
        std::string quoted;
        if (!JSONWriter::appendQuoted(quoted, ours.get_ref<const std::string&>()) || nlohmann::json::parse(quoted) != ours)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto message = PostMessageChannel::parseMessage(text)) {
        // Posted back, it carries the same fields: the envelope is JSON of exactly them, and
        // the body goes as its own text.
        const auto texts = PostMessageChannel::postingTexts(*message, "swiftWindowParent");
        nlohmann::json fields = {{"source", "swiftWindowParent"}, {"type", std::string(rawValue(message->type))},
                                 {"id", message->id}, {"serviceId", message->serviceId}, {"method", message->method}};
        if (message->body)
            fields["b"] = true;
        if (nlohmann::json::parse(texts.envelope, nullptr, false) != fields || texts.body != (message->body ? message->body->json : ""))
            std::abort();
        if (message->body)
            decodeEveryType(*message->body);
    }
    decodeEveryType(ServiceChannel::MessageBody{std::string(text)});
    compareWithReference(text);

    // Any bytes as a string to write: quoted exactly when they are UTF-8, and read back as they were.
    std::string quoted;
    const bool written = JSONWriter::appendQuoted(quoted, text);
    if (written != isValidUTF8(text))
        std::abort();
    if (written) {
        const auto back = nlohmann::json::parse(quoted, nullptr, false);
        if (!back.is_string() || back.get_ref<const std::string&>() != text)
            std::abort();
    }
    return 0;
}
