// The JSON forms of the value types that only pages exchange, one table per group of services:
// each row reads a text as a type and either expects the text the value writes back (the
// same text when none is given; fields in declared order, absent optionals left out) or the
// kind of the decoder's failure.
#include <gtest/gtest.h>

#include <variant>

#include "Services/generated/FeedbackDocument.h"
#include "Services/generated/FeedbackService.h"
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
#include "Services/runtime/ServiceValueHelper.h"

namespace {

using namespace kx;
using Kind = DecodingError::Kind;
using Outcome = std::variant<std::string, DecodingError>;
using Trip = Outcome (*)(const std::string&);

// Reads the text as T and writes the value again.
template <class T>
Outcome trip(const std::string& text)
{
    try {
        return ServiceValueHelper::jsonEncoder().encode(ServiceValueHelper::jsonDecoder().decode<T>(text));
    } catch (const DecodingError& error) {
        return error;
    }
}

struct Row {
    Trip read;
    std::string input;
    std::variant<std::string, Kind> expected;
    std::string description; // of a failure, when it matters

    Row(Trip read, std::string input)
        : read(read)
        , input(input)
        , expected(std::move(input))
    {
    }
    Row(Trip read, std::string input, std::string written)
        : read(read)
        , input(std::move(input))
        , expected(std::move(written))
    {
    }
    Row(Trip read, std::string input, Kind failure, std::string description = {})
        : read(read)
        , input(std::move(input))
        , expected(failure)
        , description(std::move(description))
    {
    }
};

void check(const std::vector<Row>& rows)
{
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        const auto outcome = row.read(row.input);
        if (const auto* written = std::get_if<std::string>(&row.expected)) {
            if (const auto* error = std::get_if<DecodingError>(&outcome))
                ADD_FAILURE() << "failed: " << error->what();
            else
                EXPECT_EQ(std::get<std::string>(outcome), *written);
            continue;
        }
        const auto* error = std::get_if<DecodingError>(&outcome);
        if (!error) {
            ADD_FAILURE() << "decoded as " << std::get<std::string>(outcome);
            continue;
        }
        const auto kind = std::get<Kind>(row.expected);
        EXPECT_EQ(error->kind(), kind) << error->what();
        if (kind == Kind::featureUnsupported) {
            EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
            EXPECT_EQ(error->code(), 3328);
        }
        if (!row.description.empty()) {
            EXPECT_EQ(error->debugDescription(), row.description);
        }
    }
}

TEST(PageValueTypes, FeedbackThreadsCommentsAndAnchors)
{
    namespace F = FeedbackService;
    namespace D = FeedbackDocument;
    const std::string user = R"({"id":"u","name":"Ada","initials":"A"})";
    const std::string canvas = R"({"type":"canvas","x":10,"y":-20})";
    const std::string node = R"({"type":"node","x":1,"y":2,"nodeId":"n","insetX":3,"insetY":4,"insetCorner":"topLeft"})";
    const std::string comment = R"({"author":)" + user + R"(,"createdAt":"c","id":"c1","text":"Hi"})";
    const std::string bare = R"({"archived":false,"comments":[],"id":"t","anchor":)" + canvas + "}";
    check({
        {trip<F::Thread>, R"({"archived":true,"comments":[)" + comment + R"(],"id":"t","anchor":)" + node +
                              R"(,"seenUntil":"s","updatedAt":"u"})"},
        {trip<F::Thread>, bare},
        {trip<F::Thread>, R"({"archived":false,"comments":[],"id":"t","anchor":)" + canvas + R"(,"seenUntil":null,"updatedAt":null})",
         bare},
        {trip<F::Thread>, R"({"archived":false,"id":"t","anchor":)" + canvas + "}", Kind::keyNotFound},
        {trip<F::Thread>, R"({"archived":"false","comments":[],"id":"t","anchor":)" + canvas + "}", Kind::typeMismatch},
        {trip<F::Thread>, R"({"archived":false,"comments":[{"createdAt":"c","id":"c1","text":"Hi"}],"id":"t","anchor":)" +
                              canvas + "}",
         Kind::keyNotFound},
        {trip<F::Comment>, R"({"author":)" + user + R"(,"createdAt":"c","deletedBy":{"id":"v","name":"Bo","initials":"B",)"
                                                     R"("avatar":"a.png"},"id":"c1","text":"","updatedAt":"u"})"},
        {trip<F::Comment>, R"({"author":)" + user + R"(,"createdAt":"c","deletedBy":null,"id":"c1","text":"Hi"})", comment},
        {trip<F::Anchor>, node},
        {trip<F::Anchor>, R"({"type":"canvas","x":1,"y":2,"nodeId":"n"})", R"({"type":"canvas","x":1,"y":2})"},
        {trip<F::Anchor>, R"({"type":"canvas","x":2.0,"y":-3})", R"({"type":"canvas","x":2,"y":-3})"},
        {trip<F::Anchor>, R"({"type":"Canvas","x":1,"y":2})", Kind::featureUnsupported},
        {trip<F::Anchor>, R"({"type":"pin","x":1,"y":2})", Kind::featureUnsupported},
        {trip<F::Anchor>, R"({"x":1,"y":2})", Kind::keyNotFound},
        {trip<F::Anchor>, R"({"type":"node","x":1,"y":2,"nodeId":"n","insetX":3,"insetY":4})", Kind::keyNotFound},
        {trip<F::Anchor>, R"({"type":"canvas","x":1.5,"y":2})", Kind::dataCorrupted},
        {trip<F::GetThreadsRequest>, R"({"archived":true})"},
        {trip<F::GetThreadsRequest>, R"({"archived":0})", Kind::typeMismatch},
        {trip<F::GetThreadsResponse>, R"({"threads":[)" + bare + "]}"},
        {trip<F::CreateThreadRequest>, R"({"anchor":)" + node + R"(,"text":"Look"})"},
        {trip<F::CreateThreadRequest>, R"({"anchor":{"type":"Node"},"text":"Look"})", Kind::featureUnsupported},
        {trip<F::UpdateThreadRequest>, R"({"id":"t"})"},
        {trip<F::UpdateThreadRequest>, R"({"id":"t","archived":true,"anchor":)" + canvas + "}"},
        {trip<F::UpdateThreadRequest>, R"({"id":"t","anchor":{"type":"canvas","x":1}})", Kind::keyNotFound},
        {trip<F::CreateCommentRequest>, R"({"threadId":"t","text":"Hi"})"},
        {trip<F::UpdateCommentRequest>, R"({"id":"c","threadId":"t","text":"Hi"})"},
        {trip<F::UpdateCommentRequest>, R"({"id":"c","text":"Hi"})", Kind::keyNotFound},
        {trip<F::DeleteCommentRequest>, R"({"id":"c","threadId":"t"})"},
        {trip<F::DeleteCommentResponse>, R"({"comment":)" + comment + "}"},
        {trip<F::MarkAsSeenRequest>, R"({"threadId":"t","lastSeenCommentId":"c"})"},
        {trip<F::MarkAsSeenResponse>, R"({"thread":)" + bare + "}"},
        {trip<D::ToggleFeedbackRequest>, "{}"},
        {trip<D::ToggleFeedbackRequest>, R"({"force":false})"},
        {trip<D::ToggleFeedbackRequest>, R"({"force":"yes"})", Kind::typeMismatch},
        {trip<D::OpenThreadRequest>, R"({"threadId":"t","commentId":"c"})"},
        {trip<D::OpenThreadRequest>, R"({"commentId":"c"})", Kind::keyNotFound},
        {trip<D::FeedbackStateEvent>, R"({"isActive":true,"hasUnreadFeedback":false})"},
        {trip<D::FeedbackStateEvent>, R"({"isActive":true})", Kind::keyNotFound},
    });
}

TEST(PageValueTypes, PreviewLogsAndProjectState)
{
    namespace P = PreviewDocument;
    namespace S = ProjectState;
    const std::string minimal = R"({"tasks":{},"isDocumentDirty":false,"outdated":[],"packages":[]})";
    check({
        {trip<P::PreviewLog>, R"({"data":[],"method":"log","id":"1"})"},
        {trip<P::PreviewLog>, R"({"id":"1","method":"warn","data":["a",""]})", R"({"data":["a",""],"method":"warn","id":"1"})"},
        {trip<P::PreviewLog>, R"({"data":[1],"method":"log","id":"1"})", Kind::typeMismatch},
        {trip<P::PreviewLog>, R"({"data":[],"method":"log"})", Kind::keyNotFound},
        {trip<P::PreviewLogsEvent>, R"({"logs":[{"data":["x"],"method":"error","id":"2"}]})"},
        {trip<P::PreviewLogsEvent>, R"({"logs":[{"data":[],"id":"2"}]})", Kind::keyNotFound},
        {trip<P::ToggleConsoleRequest>, "{}"},
        {trip<P::ToggleConsoleRequest>, R"({"force":null})", "{}"},
        {trip<S::State>, minimal},
        {trip<S::State>, R"({"filename":"a.korvel","tasks":{"build":{"log":[null,"x"],"progress":0.5,"running":true}},)"
                         R"("url":"http://localhost:3000","isDocumentDirty":true,"outdated":[{"name":"a","current":"1",)"
                         R"("wanted":"2","latest":"3","type":"dependencies"}],"packages":["a"],"builtInLibraryVersion":"1",)"
                         R"("currentLibraryVersion":"2","availableLibraryVersions":["1","2"]})"},
        {trip<S::State>, R"({"tasks":{},"isDocumentDirty":false,"outdated":[],"packages":[],"availableLibraryVersions":null})",
         minimal},
        {trip<S::State>, R"({"tasks":{},"isDocumentDirty":false,"outdated":[],"packages":[],"availableLibraryVersions":[]})"},
        {trip<S::State>, R"({"tasks":[],"isDocumentDirty":false,"outdated":[],"packages":[]})", Kind::typeMismatch},
        {trip<S::State>, R"({"tasks":"x","isDocumentDirty":false,"outdated":[],"packages":[]})", Kind::typeMismatch},
        {trip<S::State>, R"({"tasks":null,"isDocumentDirty":false,"outdated":[],"packages":[]})", Kind::valueNotFound},
        {trip<S::State>, R"({"tasks":{},"isDocumentDirty":false,"packages":[]})", Kind::keyNotFound},
        {trip<S::State>, R"({"tasks":{},"isDocumentDirty":false,"outdated":[]})", Kind::keyNotFound},
        {trip<S::State>, R"({"tasks":{},"isDocumentDirty":false,"outdated":[{"name":"a","current":"1","wanted":"2","type":"t"}],)"
                         R"("packages":[]})",
         Kind::keyNotFound},
        {trip<S::FileChange>, R"({"relativePath":"src/a.js"})"},
    });
}

TEST(PageValueTypes, FramePackageToolTutorialAndSessionRecords)
{
    namespace PF = PreviewFrame;
    namespace PP = ProjectPackage;
    namespace TW = ToolWrapper;
    const std::string publish = R"({"version":"1.0.0","displayName":"Kit","packageName":"kit","slug":"kit")";
    check({
        {trip<PF::LoadRequest>, R"({"projectURL":"http://127.0.0.1:1/"})"},
        {trip<PF::LoadResponse>, R"({"canvas":"c","script":"s","preview":"p"})"},
        {trip<PF::LoadResponse>, R"({"canvas":"c","script":"s"})", Kind::keyNotFound},
        {trip<PF::SelectionLockRequest>, "{}"},
        {trip<PF::PreviewRemoteEventRequest>, R"({"event":"click"})"},
        {trip<PF::PreviewRemoteEventRequest>, R"({"event":"click","type":"t","uuid":"u"})"},
        {trip<PF::PreviewRemoteEventRequest>, R"({"type":"t"})", Kind::keyNotFound},
        {trip<PF::CanvasUpdateEvent>, R"({"content":"c"})"},
        {trip<PF::ScriptUpdateEvent>, R"({"content":"s"})"},
        {trip<PF::PreviewUpdateEvent>, R"({"content":null})", Kind::valueNotFound},
        {trip<PP::UploadDesignAssetArgs>, R"({"encodedContent":"aGk=","fileName":"a.png"})"},
        {trip<PP::UploadReadmeArgs>, R"({"readme":"# Kit"})"},
        {trip<PP::FetchReadmeResponse>, R"({"readme":""})"},
        {trip<PP::AddDependencyArgs>, R"({"packageName":"left-pad"})"},
        {trip<PP::PublishPackageArgs>, publish + R"(,"isPrivate":false})"},
        {trip<PP::PublishPackageArgs>, publish + "}", Kind::keyNotFound},
        {trip<PP::PublishPackageArgs>, publish + R"(,"isPrivate":"true"})", Kind::typeMismatch},
        {trip<PP::FetchPackageJsonResponse>, R"({"package":{"dependencies":{"a":"^1"},"name":"kit","private":true}})"},
        {trip<PP::FetchPackageJsonResponse>, R"({"package":[]})", Kind::typeMismatch},
        {trip<ToolOwner::ActiveToolEvent>, R"({"activeTool":2,"visible":true,"graphicMode":false,"pointType":0,"booleanOpType":-1})"},
        {trip<ToolOwner::ActiveToolEvent>, R"({"activeTool":2.5,"visible":true,"graphicMode":false,"pointType":0,"booleanOpType":1})",
         Kind::dataCorrupted},
        {trip<TW::ToolActionType>, R"("pointType")"},
        {trip<TW::ToolActionType>, R"("exitmode")", Kind::dataCorrupted,
         "Cannot initialize ToolActionType from invalid String value exitmode"},
        {trip<TW::ToolActionEvent>, R"({"type":"exitMode"})"},
        {trip<TW::ToolActionEvent>, R"({"type":"exitMode","action":1})", R"({"type":"exitMode"})"},
        {trip<TW::ToolActionEvent>, R"({"type":"tool","action":3})"},
        {trip<TW::ToolActionEvent>, R"({"type":"booleanOp","action":2})"},
        {trip<TW::ToolActionEvent>, R"({"type":"pointType","action":1})"},
        {trip<TW::ToolActionEvent>, R"({"type":"tool"})", Kind::keyNotFound},
        {trip<TW::ToolActionEvent>, R"({"type":"Tool","action":3})", Kind::featureUnsupported},
        {trip<TutorialDocument::Step>, R"({"show":["a"]})"},
        {trip<TutorialDocument::Step>, R"({"show":[],"center":["b"],"zoom":1.5})"},
        {trip<TutorialDocument::Step>, R"({"show":[],"zoom":2})"},
        {trip<TutorialDocument::Step>, R"({"center":[]})", Kind::keyNotFound},
        {trip<TutorialFrame::PresentationData>, R"({"presentationJSON":"{\"slides\":[1]}"})"},
        {trip<UserSessionService::SessionIdentityResponse>, R"({"user":{"id":"u","name":"Ada","initials":"A","avatar":"a.png"}})"},
        {trip<UserSessionService::SessionIdentityResponse>, R"({"user":{"id":"u","name":"Ada"}})", Kind::keyNotFound},
        {trip<UserSessionService::PermissionsResponse>, R"({"isViewOnly":true})"},
    });
}

TEST(PageValueTypes, PreviewRunnerPresentationsErrorsAndStates)
{
    namespace R = PreviewRunner;
    check({
        {trip<R::Device>, R"({"type":"phone","theme":"dark"})"},
        {trip<R::Device>, R"({"type":"phone"})", Kind::keyNotFound},
        {trip<R::Presentation>, R"({"type":"device","device":{"type":"frame","theme":"light"}})"},
        {trip<R::Presentation>, R"({"type":"frame","size":{"width":1024,"height":768.5}})"},
        {trip<R::Presentation>, R"({"type":"responsive"})"},
        {trip<R::Presentation>, R"({"type":"responsive","size":{"width":1,"height":2}})", R"({"type":"responsive"})"},
        {trip<R::Presentation>, R"({"type":"frame"})", Kind::keyNotFound},
        {trip<R::Presentation>, R"({"type":"device","device":null})", Kind::valueNotFound},
        {trip<R::Presentation>, R"({"type":"Device","device":{"type":"a","theme":"b"}})", Kind::featureUnsupported},
        {trip<R::Presentation>, R"({"device":{"type":"a","theme":"b"}})", Kind::keyNotFound},
        {trip<R::Presentation>, R"({"type":null})", Kind::valueNotFound},
        {trip<R::Presentation>, R"({"type":1})", Kind::typeMismatch},
        {trip<R::Error>, R"({"type":"frameNotFound"})"},
        {trip<R::Error>, R"({"type":"permissionDenied"})"},
        {trip<R::Error>, R"({"type":"unknown","message":"m"})"},
        {trip<R::Error>, R"({"type":"unknown"})"},
        {trip<R::Error>, R"({"type":"unknown","message":null})", R"({"type":"unknown"})"},
        {trip<R::Error>, R"({"type":"timeout"})", Kind::featureUnsupported},
        {trip<R::State>, R"({"status":"loading"})"},
        {trip<R::State>, R"({"status":"loaded","presentation":{"type":"responsive"}})"},
        {trip<R::State>, R"({"status":"error","error":{"type":"unknown","message":"m"}})"},
        {trip<R::State>, R"({"type":"loading"})", Kind::keyNotFound},
        {trip<R::State>, R"({"status":"loaded"})", Kind::keyNotFound},
        {trip<R::State>, R"({"status":"loaded","presentation":{"type":"frame"}})", Kind::keyNotFound},
        {trip<R::State>, R"({"status":"error","error":{"type":"gone"}})", Kind::featureUnsupported},
    });
}

TEST(PageValueTypes, UserNotificationsPermissionsPostingAndCancelling)
{
    namespace N = UserNotifications;
    check({
        {trip<N::Notification>, R"({"id":"n","title":"Done","body":"Saved","show":"backgrounded"})"},
        {trip<N::Notification>, R"({"id":"n","title":"Done","show":"always"})"},
        {trip<N::Notification>, R"({"id":"n","title":"Done","body":null,"show":"always"})", R"({"id":"n","title":"Done","show":"always"})"},
        {trip<N::Notification>, R"({"id":"","title":"","body":"","show":"always"})"},
        {trip<N::Notification>, R"({"id":"n","title":"Done","show":"Always"})", Kind::dataCorrupted,
         "Cannot initialize NotificationShow from invalid String value Always"},
        {trip<N::Notification>, R"({"id":"n","title":"Done"})", Kind::keyNotFound},
        {trip<N::Notification>, R"({"id":"n","title":null,"show":"always"})", Kind::valueNotFound},
        {trip<N::Notification>, R"({"id":1,"title":"Done","show":"always"})", Kind::typeMismatch},
        {trip<N::RequestPermissionResponse>, R"({"status":"granted"})"},
        {trip<N::GetPermissionStatusResponse>, R"({"status":"notDetermined"})"},
        {trip<N::GetPermissionStatusResponse>, R"({"status":"Denied"})", Kind::dataCorrupted,
         "Cannot initialize PermissionStatus from invalid String value Denied"},
        {trip<N::PostRequest>, R"({"notification":{"id":"n","title":"t","show":"always"}})"},
        {trip<N::PostRequest>, R"({"notification":"n"})", Kind::typeMismatch},
        {trip<N::CancelRequest>, R"({"notificationId":"n"})"},
        {trip<N::PostResponse>, R"({"type":"action"})"},
        {trip<N::PostResponse>, R"({"type":"cancel","reason":"closed"})"},
        {trip<N::PostResponse>, R"({"type":"action","reason":"r"})", R"({"type":"action"})"},
        {trip<N::PostResponse>, R"({"type":"cancel"})", Kind::keyNotFound},
        {trip<N::PostResponse>, R"({"type":"dismiss"})", Kind::featureUnsupported},
    });
    EXPECT_EQ(allCases<N::PermissionStatus>(),
              (std::array{N::PermissionStatus::granted, N::PermissionStatus::denied, N::PermissionStatus::notDetermined}));
    EXPECT_EQ(allCases<N::NotificationShow>(), (std::array{N::NotificationShow::always, N::NotificationShow::backgrounded}));
}

TEST(PageValueTypes, PublicStorePackagesListsAndPublishing)
{
    namespace P = PublicStoreClient;
    const std::string head = R"({"icon":"i","artwork":"a","friendlyName":"Kit","readme":"r",)";
    const std::string middle = R"("name":"kit","author":"me","slug":"kit","version":"1.0.0",)";
    const std::string counts = R"("size":10,"favorites":2,"downloads":3,"isPrivate":false,)";
    const std::string minimal = head + middle + R"("tags":[],)" + counts + R"("publisherId":"p"})";
    check({
        {trip<P::Package>, head + R"("license":"MIT",)" + middle + R"("updatedAt":"u","tags":["ui","form"],)" + counts +
                               R"("isFavorite":true,"publisherId":"p","peerDependencies":{"react":"*"}})"},
        {trip<P::Package>, minimal},
        {trip<P::Package>, head + R"("license":null,)" + middle + R"("updatedAt":null,"tags":[],)" + counts +
                               R"("isFavorite":null,"publisherId":"p","peerDependencies":null})",
         minimal},
        {trip<P::Package>, head + middle + R"("tags":[],)" + counts + R"("publisherId":"p","peerDependencies":{}})"},
        {trip<P::Package>, head + middle + counts + R"("publisherId":"p"})", Kind::keyNotFound},
        {trip<P::Package>, head + middle + R"("tags":[],"size":10,"favorites":2,"downloads":3,"publisherId":"p"})", Kind::keyNotFound},
        {trip<P::Package>, head + middle + R"("tags":[],"size":1.5,"favorites":2,"downloads":3,"isPrivate":false,"publisherId":"p"})",
         Kind::dataCorrupted},
        {trip<P::Package>, head + middle + R"("tags":[],"size":1,"favorites":2,"downloads":"12","isPrivate":false,"publisherId":"p"})",
         Kind::typeMismatch},
        {trip<P::Package>, head + middle + R"("tags":[],)" + counts + R"("publisherId":"p","peerDependencies":[]})", Kind::typeMismatch},
        {trip<P::Package>, head + middle + R"("tags":[],)" + counts + R"("publisherId":"p","peerDependencies":"x"})", Kind::typeMismatch},
        {trip<P::PackageArray>, R"({"packages":[],"totalCount":0})"},
        {trip<P::PackageArray>, R"({"packages":[)" + minimal + R"(],"totalCount":41})"},
        {trip<P::PackageArray>, R"({"packages":[]})", Kind::keyNotFound},
        {trip<P::PackageArray>, R"({"packages":[{"icon":"i"}],"totalCount":1})", Kind::keyNotFound},
        {trip<P::PackageMeta>, R"({"isPrivate":true,"url":"u","ownerId":"o","publisherId":"p"})"},
        {trip<P::PackageMeta>, R"({"isPrivate":true,"url":"u","publisherId":"p"})", Kind::keyNotFound},
        {trip<P::FetchMetaResponse>, R"({"dependenciesMeta":{}})"},
        {trip<P::FetchMetaResponse>, R"({"meta":{"isPrivate":false,"url":"u","ownerId":"o","publisherId":"p"},"dependenciesMeta":{"a":1}})"},
        {trip<P::FetchMetaResponse>, R"({"meta":{"isPrivate":false,"url":"u","ownerId":"o","publisherId":"p"}})", Kind::keyNotFound},
        {trip<P::ContainsPackageResponse>, R"({"contained":false})"},
        {trip<P::FetchMetaArgs>, "{}"},
        {trip<P::FetchMetaArgs>, R"({"name":"kit","dependencies":[]})"},
        {trip<P::FetchPreflightArgs>, "{}"},
        {trip<P::FetchPreflightArgs>, R"({"package":"kit","displayName":"Kit","publishing":true,"spaceId":"s"})"},
        {trip<P::GetPublishStatusArgs>, R"({"packageName":"kit","version":"1","isPrivate":false})"},
        {trip<P::SearchArgs>, R"({"offset":0,"query":"q"})"},
        {trip<P::SearchArgs>, R"({"query":"q"})", Kind::keyNotFound},
        {trip<P::FetchPackagesByPopularityArgs>, R"({"offset":20,"days":7})"},
        {trip<P::FetchPackagesBySectionArgs>, R"({"section":"new","offset":0})"},
        {trip<P::FetchPackagesByPublisherArgs>, R"({"publisherId":"p","offset":0})"},
        {trip<P::ToggleFavoriteArgs>, R"({"packageName":"kit","favorite":false})"},
        {trip<P::PublishStatus>, R"({"status":"pending"})"},
        {trip<P::PublishStatus>, R"({"status":"completed","error":{"message":"m"}})", R"({"status":"completed"})"},
        {trip<P::PublishStatus>, R"({"status":"rejected","error":{"message":"m"}})"},
        {trip<P::PublishStatus>, R"({"status":"error","error":{"code":500,"detail":["x"]}})"},
        {trip<P::PublishStatus>, R"({"status":"rejected"})", Kind::keyNotFound},
        {trip<P::PublishStatus>, R"({"status":"rejected","error":{}})", Kind::keyNotFound},
        {trip<P::PublishStatus>, R"({"status":"error","error":"boom"})", Kind::typeMismatch},
        {trip<P::PublishStatus>, R"({"status":"Pending"})", Kind::featureUnsupported},
        {trip<P::PublishStatus>, R"({"error":{"message":"m"}})", Kind::keyNotFound},
        {trip<P::PreflightResponse>, R"({"result":"success","suggestedVersion":"1.0.1","slug":"kit","package":"kit"})"},
        {trip<P::PreflightResponse>, R"({"result":"failure","errorMessage":"taken"})"},
        {trip<P::PreflightResponse>, R"({"result":"success","suggestedVersion":"1.0.1","package":"kit"})", Kind::keyNotFound},
        {trip<P::PreflightResponse>, R"({"result":"SUCCESS"})", Kind::featureUnsupported},
    });
}

} // namespace
