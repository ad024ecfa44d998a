// Every method of every service, over a router and a recording channel as the page sees them:
// a native call through the outgoing wrapper goes out as a request with the service's id, the
// method's wire name and the argument as its body, and the page's answer comes back as the
// result type; a page's request through the incoming dispatcher reaches the implementation
// with the same argument and its result goes back as the response body. One table row per
// method gives a sample argument and answer in their exact JSON forms.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <set>

#include "Services/generated/Beep.h"
#include "Services/generated/Clipboard.h"
#include "Services/generated/ColorSampler.h"
#include "Services/generated/ContextMenuPresenter.h"
#include "Services/generated/FeedbackDocument.h"
#include "Services/generated/FeedbackService.h"
#include "Services/generated/GestureEventTarget.h"
#include "Services/generated/MenuActionTarget.h"
#include "Services/generated/PreviewDocument.h"
#include "Services/generated/PreviewFrame.h"
#include "Services/generated/PreviewRunner.h"
#include "Services/generated/PrivateStoreClient.h"
#include "Services/generated/ProjectPackage.h"
#include "Services/generated/ProjectState.h"
#include "Services/generated/PublicStoreClient.h"
#include "Services/generated/ToolOwner.h"
#include "Services/generated/ToolWrapper.h"
#include "Services/generated/TutorialDocument.h"
#include "Services/generated/TutorialFrame.h"
#include "Services/generated/UserNotifications.h"
#include "Services/generated/UserSessionService.h"
#include "Services/generated/ZzzTestingBeep.h"
#include "Services/generated/ZzzTestingStreams.h"
#include "Services/generated/ZzzTestingTypes.h"
#include "Services/runtime/ServiceManager.h"
#include "support/RecordingChannel.h"
#include "support/Spin.h"

namespace {

using namespace kx;
using Message = ServiceChannel::Message;
using Type = ServiceChannel::MessageType;
using Body = ServiceChannel::MessageBody;
using Reply = Result<OptionalMessageBody, ServiceError>;
using Text = std::optional<std::string>;

OptionalMessageBody bodyOf(const Text& text)
{
    return text ? OptionalMessageBody(Body{*text}) : std::nullopt;
}

Text textOf(const OptionalMessageBody& body)
{
    return body ? Text(body->json) : std::nullopt;
}

struct MethodCase {
    std::string serviceId;
    std::string fingerprint;
    std::string method;
    Text argument; // none for a method without argument
    Text answer;   // none for a method without result
    // Makes the outgoing wrapper on the router, calls the method with the argument, and hands
    // on its result encoded again.
    std::function<void(Router&, ServiceReply)> callOutgoing;
    // Serves the service with an implementation that hands every call to the given function.
    std::function<void(ServiceManager&, const std::shared_ptr<ServiceChannel>&, SendFunction)> registerForwarding;
};

void PrintTo(const MethodCase& method, std::ostream* out)
{
    *out << method.serviceId << "." << method.method;
}

template <class R>
Reply encodedResult(const Result<R, ServiceError>& result)
{
    return result.map([](const R& value) -> OptionalMessageBody {
        if constexpr (std::is_same_v<R, Unit>)
            return std::nullopt;
        else
            return ServiceValueHelper::toMessageBody(value);
    });
}

// The row's argument as the method's argument type: a row whose text does not read as that
// type names the wrong type.
template <class A>
A readArgument(const std::string& text)
{
    if constexpr (service_detail::IsOptionalArgument<A>::value) {
        return readArgument<typename A::value_type>(text);
    } else {
        auto decoded = ServiceValueHelper::decode<A>(Body{text});
        if (decoded.isFailure()) {
            ADD_FAILURE() << "argument does not read: " << text << ": " << decoded.error().what();
            return A{};
        }
        return std::move(decoded).value();
    }
}

template <class I, class R, class Invoke>
MethodCase makeCase(const GeneratedService<I>& service, std::string method, Text argument, Text answer, Invoke invoke)
{
    MethodCase result{service.id, service.fingerprint, std::move(method), std::move(argument), std::move(answer), {}, {}};
    result.callOutgoing = [&service, invoke](Router& router, ServiceReply done) {
        const auto wrapper = router.expect(service);
        invoke(*wrapper, CompletionHandler<R>([done](const Result<R, ServiceError>& result) { done(encodedResult(result)); }));
    };
    result.registerForwarding = [&service](ServiceManager& manager, const std::shared_ptr<ServiceChannel>& channel,
                                           SendFunction forward) {
        manager.registerService(service, channel, service.newOutgoingWrapper(std::move(forward)));
    };
    return result;
}

template <class I, class R>
MethodCase call(const GeneratedService<I>& service, void (I::*member)(CompletionHandler<R>), std::string method, Text answer)
{
    return makeCase<I, R>(service, std::move(method), std::nullopt, std::move(answer),
                          [member](I& wrapper, CompletionHandler<R> done) { (wrapper.*member)(std::move(done)); });
}

template <class I, class A, class R>
MethodCase call(const GeneratedService<I>& service, void (I::*member)(A, CompletionHandler<R>), std::string method,
                std::string argument, Text answer)
{
    return makeCase<I, R>(service, std::move(method), argument, std::move(answer),
                          [member, argument](I& wrapper, CompletionHandler<R> done) {
                              (wrapper.*member)(readArgument<A>(argument), std::move(done));
                          });
}

const std::string user = R"({"id":"u1","name":"Ada","initials":"A"})";
const std::string comment = R"({"author":)" + user + R"(,"createdAt":"2024-05-01T10:00:00Z","id":"c1","text":"Hi"})";
const std::string thread = R"({"archived":false,"comments":[)" + comment +
                           R"(],"id":"t1","anchor":{"type":"canvas","x":10,"y":-20},"seenUntil":"c1"})";
const std::string package =
    R"({"icon":"i.png","artwork":"a.png","friendlyName":"Kit","readme":"# Kit","name":"kit","author":"me","slug":"kit",)"
    R"("version":"1.0.0","tags":["ui"],"size":10,"favorites":2,"downloads":3,"isPrivate":false,"publisherId":"p"})";
const std::string packages = R"({"packages":[)" + package + R"(],"totalCount":1})";

// The public and the private store offer the same operations.
template <class I>
std::vector<MethodCase> storeMethods(const GeneratedService<I>& store)
{
    return {
        call(store, &I::fetchMeta, "fetchMeta", R"({"name":"kit","dependencies":["a"]})",
             R"({"meta":{"isPrivate":false,"url":"u","ownerId":"o","publisherId":"p"},"dependenciesMeta":{}})"),
        call(store, &I::removePackage, "removePackage", R"({"packageName":"kit"})", std::nullopt),
        call(store, &I::fetchPreflight, "fetchPreflight", R"({"package":"kit","publishing":true})",
             R"({"result":"success","suggestedVersion":"1.0.1","slug":"kit","package":"kit"})"),
        call(store, &I::getPublishStatus, "getPublishStatus", R"({"packageName":"kit","version":"1.0.0","isPrivate":true})",
             R"({"status":"rejected","error":{"message":"taken"}})"),
        call(store, &I::search, "search", R"({"offset":0,"query":"button"})", packages),
        call(store, &I::fetchFeaturedPackages, "fetchFeaturedPackages", R"({"offset":20})", R"({"packages":[],"totalCount":0})"),
        call(store, &I::fetchPackagesByPopularity, "fetchPackagesByPopularity", R"({"offset":0,"days":7})", packages),
        call(store, &I::fetchPackagesByPublisher, "fetchPackagesByPublisher", R"({"publisherId":"p","offset":0})", packages),
        call(store, &I::fetchPackagesBySection, "fetchPackagesBySection", R"({"section":"new","offset":40})", packages),
        call(store, &I::fetchRecents, "fetchRecents", R"({"offset":0})", packages),
        call(store, &I::toggleFavorite, "toggleFavorite", R"({"packageName":"kit","favorite":true})", std::nullopt),
        call(store, &I::containsPackage, "containsPackage", R"({"friendlyName":"Kit"})", R"({"contained":true})"),
        call(store, &I::findByName, "findByName", R"({"packageName":"kit"})",
             package.substr(0, package.size() - 1) + R"(,"peerDependencies":{"react":"*"}})"),
    };
}

std::vector<MethodCase> allMethods()
{
    namespace F = FeedbackService;
    using FI = F::Interface;
    std::vector<MethodCase> methods{
        call(Beep::service(), &Beep::Interface::beep, "beep", std::nullopt),
        call(Clipboard::service(), &Clipboard::Interface::write, "write", R"({"items":[{"type":"text/plain","string":"x"}]})",
             std::nullopt),
        call(Clipboard::service(), &Clipboard::Interface::read, "read", R"({"types":["text/css"]})",
             R"({"items":[{"type":"text/css","string":"a{}"}]})"),
        call(ColorSampler::service(), &ColorSampler::Interface::sampleColor, "sampleColor", R"j({"color":"rgba(1, 2, 3, 1)"})j"),
        call(GestureEventTarget::service(), &GestureEventTarget::Interface::dispatchMagnificationEvent,
             "dispatchMagnificationEvent",
             R"({"type":"magnificationChanged","magnification":0.125,"normalizedTouchOffset":{"x":0.5,"y":0.25}})", std::nullopt),
        call(MenuActionTarget::service(), &MenuActionTarget::Interface::validate, "validate", R"({"action":"*"})",
             R"({"states":[{"action":"undo","enabled":true}]})"),
        call(MenuActionTarget::service(), &MenuActionTarget::Interface::dispatch, "dispatch", R"({"action":"copy"})",
             R"({"success":true})"),
        call(ContextMenuPresenter::service(), &ContextMenuPresenter::Interface::showContextMenu, "showContextMenu",
             R"({"items":[{"label":"Cut","role":"cut"}],"location":{"x":1.5,"y":2}})", R"({"indexPath":[0]})"),

        call(F::service(), &FI::getThreads, "getThreads", R"({"archived":false})", R"({"threads":[)" + thread + "]}"),
        call(F::service(), &FI::createThread, "createThread",
             R"({"anchor":{"type":"node","x":1,"y":2,"nodeId":"n","insetX":3,"insetY":4,"insetCorner":"topLeft"},"text":"Look"})",
             R"({"thread":)" + thread + "}"),
        call(F::service(), &FI::updateThread, "updateThread", R"({"id":"t1","archived":true})", R"({"thread":)" + thread + "}"),
        call(F::service(), &FI::createComment, "createComment", R"({"threadId":"t1","text":"Hi"})",
             R"({"comment":)" + comment + "}"),
        call(F::service(), &FI::updateComment, "updateComment", R"({"id":"c1","threadId":"t1","text":"Hello"})",
             R"({"comment":)" + comment + "}"),
        call(F::service(), &FI::deleteComment, "deleteComment", R"({"id":"c1","threadId":"t1"})",
             R"({"comment":{"author":)" + user + R"(,"createdAt":"c","deletedBy":)" + user + R"(,"id":"c1","text":""}})"),
        call(F::service(), &FI::markAsSeen, "markAsSeen", R"({"threadId":"t1","lastSeenCommentId":"c1"})",
             R"({"thread":)" + thread + "}"),
        call(FeedbackDocument::service(), &FeedbackDocument::Interface::toggleFeedback, "toggleFeedback", R"({"force":true})",
             std::nullopt),
        call(FeedbackDocument::service(), &FeedbackDocument::Interface::openThread, "openThread",
             R"({"threadId":"t1","commentId":"c1"})", std::nullopt),

        call(PreviewDocument::service(), &PreviewDocument::Interface::toggleConsole, "toggleConsole", "{}", std::nullopt),
        call(PreviewDocument::service(), &PreviewDocument::Interface::getLogs, "getLogs",
             R"({"logs":[{"data":["a",""],"method":"log","id":"1"}]})"),
        call(PreviewFrame::service(), &PreviewFrame::Interface::load, "load", R"({"projectURL":"http://127.0.0.1:8080/"})",
             R"({"canvas":"c","script":"s","preview":"p"})"),
        call(PreviewFrame::service(), &PreviewFrame::Interface::lockSelection, "lockSelection", R"({"force":false})",
             std::nullopt),
        call(PreviewFrame::service(), &PreviewFrame::Interface::sendRemoteEvent, "sendRemoteEvent",
             R"({"event":"click","uuid":"A1"})", std::nullopt),

        call(ProjectPackage::service(), &ProjectPackage::Interface::addDependency, "addDependency",
             R"({"packageName":"left-pad"})", std::nullopt),
        call(ProjectPackage::service(), &ProjectPackage::Interface::fetchReadme, "fetchReadme", R"({"readme":"# Kit"})"),
        call(ProjectPackage::service(), &ProjectPackage::Interface::uploadReadme, "uploadReadme", R"({"readme":"# Kit"})",
             std::nullopt),
        call(ProjectPackage::service(), &ProjectPackage::Interface::uploadDesignAsset, "uploadDesignAsset",
             R"({"encodedContent":"aGk=","fileName":"a.png"})", std::nullopt),
        call(ProjectPackage::service(), &ProjectPackage::Interface::publishPackage, "publishPackage",
             R"({"version":"1.0.0","displayName":"Kit","packageName":"kit","slug":"kit","isPrivate":true})", std::nullopt),
        call(ProjectPackage::service(), &ProjectPackage::Interface::fetchPackageJson, "fetchPackageJson",
             R"({"package":{"dependencies":{},"name":"kit"}})"),

        call(TutorialDocument::service(), &TutorialDocument::Interface::showStep, "showStep",
             R"({"show":["a"],"center":["b"],"zoom":1.5})", std::nullopt),
        call(TutorialDocument::service(), &TutorialDocument::Interface::getStep, "getStep", R"({"show":[]})"),
        call(TutorialFrame::service(), &TutorialFrame::Interface::present, "present", R"({"presentationJSON":"{\"a\":[]}"})",
             std::nullopt),

        call(UserNotifications::service(), &UserNotifications::Interface::requestPermission, "requestPermission",
             R"({"status":"granted"})"),
        call(UserNotifications::service(), &UserNotifications::Interface::getPermissionStatus, "getPermissionStatus",
             R"({"status":"notDetermined"})"),
        call(UserNotifications::service(), &UserNotifications::Interface::post, "post",
             R"({"notification":{"id":"n1","title":"Done","body":"Saved","show":"backgrounded"}})",
             R"({"type":"cancel","reason":"closed"})"),
        call(UserNotifications::service(), &UserNotifications::Interface::cancel, "cancel", R"({"notificationId":"n1"})",
             std::nullopt),
        call(UserSessionService::service(), &UserSessionService::Interface::getSessionIdentity, "getSessionIdentity",
             R"({"user":{"id":"u1","name":"Ada","initials":"A","avatar":"https://example.com/a.png"}})"),

        call(ZzzTestingBeep::service(), &ZzzTestingBeep::Interface::beep, "beep", std::nullopt),
        call(ZzzTestingStreams::service(), &ZzzTestingStreams::Interface::emitBeep, "emitBeep", R"({"name":"b"})",
             std::nullopt),
        call(ZzzTestingTypes::service(), &ZzzTestingTypes::Interface::echo, "echo",
             R"({"name":"o","stringEnum":"c","objectEnum":{"foo":"array","objects":[{"name":"i","stringEnum":"a"}]}})",
             R"({"name":"o","stringEnum":"c","objectEnum":{"foo":"integer","count":3}})"),
    };
    for (auto&& store : {storeMethods(PublicStoreClient::service()), storeMethods(PrivateStoreClient::service())})
        methods.insert(methods.end(), store.begin(), store.end());
    return methods;
}

class ServiceMethods : public testing::TestWithParam<MethodCase> {
protected:
    void SetUp() override
    {
        channel = std::make_shared<kxtest::RecordingChannel>();
        manager = std::make_unique<ServiceManager>(std::make_shared<ServiceDebugging::Logger>("test"));
        router = manager->addRouter(channel);
    }

    std::shared_ptr<kxtest::RecordingChannel> channel;
    std::unique_ptr<ServiceManager> manager;
    std::shared_ptr<Router> router;
};

TEST_P(ServiceMethods, OutgoingCallSendsItsRequestAndReadsTheAnswer)
{
    const auto& method = GetParam();
    channel->deliver({Type::response, "announce", "", "#discover",
                      Body{R"({"services":{")" + method.serviceId + R"(":{"fingerprint":")" + method.fingerprint + R"("}}})"}});
    std::vector<Reply> results;
    method.callOutgoing(*router, [&](Reply result) { results.push_back(std::move(result)); });

    ASSERT_EQ(channel->posted.size(), 1u);
    const auto sent = channel->posted[0];
    EXPECT_EQ(sent.type, Type::request);
    EXPECT_EQ(sent.serviceId, method.serviceId);
    EXPECT_EQ(sent.method, method.method);
    EXPECT_EQ(textOf(sent.body), method.argument);
    EXPECT_TRUE(results.empty());

    channel->deliver({Type::response, sent.id, "", "", bodyOf(method.answer)});
    ASSERT_EQ(results.size(), 1u);
    ASSERT_TRUE(results[0].isSuccess()) << ServiceValueHelper::toMessageBody(results[0].error()).json;
    EXPECT_EQ(textOf(results[0].value()), method.answer);
}

TEST_P(ServiceMethods, IncomingRequestReachesTheImplementationAndItsResultGoesBack)
{
    const auto& method = GetParam();
    std::vector<std::pair<std::string, Text>> reached;
    method.registerForwarding(*manager, channel, [&](const std::string& name, OptionalMessageBody body, ServiceReply reply) {
        reached.emplace_back(name, textOf(body));
        reply(Reply::success(bodyOf(method.answer)));
    });

    channel->deliver({Type::request, "page-1", method.serviceId, method.method, bodyOf(method.argument)});
    // A large argument is read, and a result that may hold a document written, on a worker.
    ASSERT_TRUE(kxtest::spinUntil([&] { return !channel->posted.empty(); }));
    EXPECT_EQ(reached, (std::vector<std::pair<std::string, Text>>{{method.method, method.argument}}));
    ASSERT_EQ(channel->posted.size(), 1u);
    EXPECT_EQ(channel->posted[0], (Message{Type::response, "page-1", method.serviceId, method.method, bodyOf(method.answer)}));
}

INSTANTIATE_TEST_SUITE_P(AllServices, ServiceMethods, testing::ValuesIn(allMethods()),
                         [](const testing::TestParamInfo<MethodCase>& info) {
                             auto name = info.param.serviceId.substr(2, info.param.serviceId.size() - 4);
                             return name + "_" + info.param.method;
                         });

#define KX_COUNT_METHOD_(...) +1
#define KX_METHOD_COUNT_(Name) {"__" #Name "__", 0 KX_##Name##_METHODS(KX_COUNT_METHOD_, KX_COUNT_METHOD_)}

TEST(ServiceDefinitions, EveryServiceHasItsNumberOfMethodsAndEachIsInTheTable)
{
    const std::map<std::string, int> declared{
        KX_METHOD_COUNT_(Beep),            KX_METHOD_COUNT_(Clipboard),          KX_METHOD_COUNT_(ColorSampler),
        KX_METHOD_COUNT_(FeedbackService), KX_METHOD_COUNT_(FeedbackDocument),   KX_METHOD_COUNT_(GestureEventTarget),
        KX_METHOD_COUNT_(MenuActionTarget), KX_METHOD_COUNT_(ContextMenuPresenter), KX_METHOD_COUNT_(PreviewDocument),
        KX_METHOD_COUNT_(PreviewFrame),    KX_METHOD_COUNT_(PreviewRunner),      KX_METHOD_COUNT_(ProjectPackage),
        KX_METHOD_COUNT_(ProjectState),    KX_METHOD_COUNT_(PublicStoreClient),  KX_METHOD_COUNT_(PrivateStoreClient),
        KX_METHOD_COUNT_(ToolOwner),       KX_METHOD_COUNT_(ToolWrapper),        KX_METHOD_COUNT_(TutorialDocument),
        KX_METHOD_COUNT_(TutorialFrame),   KX_METHOD_COUNT_(UserNotifications),  KX_METHOD_COUNT_(UserSessionService),
        KX_METHOD_COUNT_(ZzzTestingBeep),  KX_METHOD_COUNT_(ZzzTestingStreams),  KX_METHOD_COUNT_(ZzzTestingTypes),
    };
    const std::map<std::string, int> expected{
        {"__Beep__", 1},
        {"__Clipboard__", 2},
        {"__ColorSampler__", 1},
        {"__FeedbackService__", 7},
        {"__FeedbackDocument__", 2},
        {"__GestureEventTarget__", 1},
        {"__MenuActionTarget__", 2},
        {"__ContextMenuPresenter__", 1},
        {"__PreviewDocument__", 2},
        {"__PreviewFrame__", 3},
        {"__PreviewRunner__", 0},
        {"__ProjectPackage__", 6},
        {"__ProjectState__", 0},
        {"__PublicStoreClient__", 13},
        {"__PrivateStoreClient__", 13},
        {"__ToolOwner__", 0},
        {"__ToolWrapper__", 0},
        {"__TutorialDocument__", 2},
        {"__TutorialFrame__", 1},
        {"__UserNotifications__", 4},
        {"__UserSessionService__", 1},
        {"__ZzzTestingBeep__", 1},
        {"__ZzzTestingStreams__", 1},
        {"__ZzzTestingTypes__", 1},
    };
    EXPECT_EQ(declared, expected);

    std::map<std::string, int> inTable;
    std::set<std::pair<std::string, std::string>> distinct;
    for (const auto& method : allMethods()) {
        ++inTable[method.serviceId];
        distinct.emplace(method.serviceId, method.method);
    }
    for (const auto& [id, count] : expected) {
        if (count) {
            EXPECT_EQ(inTable[id], count) << id;
        }
    }
    EXPECT_EQ(distinct.size(), allMethods().size());
}

} // namespace
