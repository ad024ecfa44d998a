// The router and manager over a recording channel: discovery both ways, requests to unknown
// services and methods, outgoing calls before and after the page's announcement, replies in
// any order, error bodies, a page that goes, and the lifetime of a router.
#include <gtest/gtest.h>

#include <map>

#include "Platform/Foundation/Uuid.h"
#include "Services/generated/Clipboard.h"
#include "Services/generated/MenuActionTarget.h"
#include "Services/runtime/ServiceManager.h"
#include "support/RecordingChannel.h"
#include "support/Spin.h"
#include "support/StdoutCapture.h"

namespace {

using namespace kx;
using Message = ServiceChannel::Message;
using Type = ServiceChannel::MessageType;
using Body = ServiceChannel::MessageBody;

// Keeps each completion so that the test decides when (and how often) it is called.
class HeldClipboard final : public Clipboard::Interface {
public:
    void write(Clipboard::Write value, CompletionHandler<Unit> completionHandler) override
    {
        writes.push_back(std::move(value));
        writeCompletions.push_back(std::move(completionHandler));
    }
    void read(std::optional<Clipboard::ReadOptions> options, CompletionHandler<Clipboard::Read> completionHandler) override
    {
        reads.push_back(std::move(options));
        readCompletions.push_back(std::move(completionHandler));
    }
    std::vector<Clipboard::Write> writes;
    std::vector<std::optional<Clipboard::ReadOptions>> reads;
    std::vector<CompletionHandler<Unit>> writeCompletions;
    std::vector<CompletionHandler<Clipboard::Read>> readCompletions;
};

class RouterTest : public testing::Test {
protected:
    void SetUp() override
    {
        channel = std::make_shared<kxtest::RecordingChannel>();
        manager = std::make_unique<ServiceManager>(std::make_shared<ServiceDebugging::Logger>("📮"));
        manager->addRouter(channel);
    }

    void request(std::string id, std::string serviceId, std::string method, std::optional<std::string> body = {})
    {
        channel->deliver({Type::request, std::move(id), std::move(serviceId), std::move(method),
                          body ? std::optional<Body>(Body{*body}) : std::nullopt});
    }

    void announce(const std::string& servicesJSON, std::string id = "announce")
    {
        channel->deliver({Type::response, std::move(id), "", "#discover", Body{R"({"services":)" + servicesJSON + "}"}});
    }

    std::shared_ptr<kxtest::RecordingChannel> channel;
    std::unique_ptr<ServiceManager> manager;
};

TEST_F(RouterTest, DiscoveryListsRegisteredServicesWhateverTheRequestNames)
{
    request("d1", "__Anything__", "#discover");
    ASSERT_EQ(channel->posted.size(), 1u);
    EXPECT_EQ(channel->posted[0], (Message{Type::response, "d1", "", "#discover", Body{R"({"services":{}})"}}));

    auto clipboard = std::make_shared<HeldClipboard>();
    manager->registerService(Clipboard::service(), channel, clipboard);
    request("d2", "__Clipboard__", "#discover", R"({"items":[]})");
    EXPECT_EQ(channel->posted.back().body->json, R"({"services":{"__Clipboard__":{"fingerprint":"fcb5905c78b9ae9e68996493a0e20675"}}})");
    EXPECT_TRUE(clipboard->writes.empty() && clipboard->reads.empty());
    EXPECT_EQ(manager->routers().size(), 1u);
}

TEST_F(RouterTest, RequestsReachTheImplementationAndItsReplyGoesBackOnce)
{
    auto clipboard = std::make_shared<HeldClipboard>();
    manager->registerService(Clipboard::service(), channel, clipboard);
    request("r1", "__Clipboard__", "read");
    request("w1", "__Clipboard__", "write", R"({"items":[{"type":"text/plain","string":"hi"}]})");
    ASSERT_EQ(clipboard->reads.size(), 1u);
    EXPECT_FALSE(clipboard->reads[0]);
    ASSERT_EQ(clipboard->writes.size(), 1u);
    EXPECT_TRUE(channel->posted.empty()); // the router does not wait, nor answer early

    // Answers go out in the order the implementation completes, each with its request's id.
    clipboard->writeCompletions[0](Result<Unit, ServiceError>::failure(ServiceError::implementation("pasteboard busy")));
    clipboard->readCompletions[0](Result<Clipboard::Read, ServiceError>::success({}));
    clipboard->readCompletions[0](Result<Clipboard::Read, ServiceError>::success({})); // a faulty second call
    // What may hold a document is written on a worker and comes back through the main loop.
    ASSERT_TRUE(kxtest::spinUntil([&] { return channel->posted.size() >= 2; }));
    kxtest::settle();
    ASSERT_EQ(channel->posted.size(), 2u);
    EXPECT_EQ(channel->posted[0], (Message{Type::error, "w1", "__Clipboard__", "write",
                                           Body{R"({"code":500,"message":"pasteboard busy"})"}}));
    EXPECT_EQ(channel->posted[1], (Message{Type::response, "r1", "__Clipboard__", "read", Body{R"({"items":[]})"}}));
}

TEST_F(RouterTest, UnknownServicesAndUnfitRequestsAreBadRequests)
{
    manager->registerService(Clipboard::service(), channel, std::make_shared<HeldClipboard>());
    kxtest::StdoutCapture output;
    request("u1", "__Nope__", "write", "{}");
    const std::string& log = output.text();
    const Message unknown{Type::request, "u1", "__Nope__", "write", Body{"{}"}};
    EXPECT_EQ(log, "📮 Router received unknown request: " + unknown.description() + "\n");

    request("u2", "__Clipboard__", "Write", R"({"items":[]})");
    request("u3", "__Clipboard__", "write");
    request("u4", "__Clipboard__", "write", R"({"items":{}})");
    request("u5", "__Clipboard__", "read", "null");
    ASSERT_EQ(channel->posted.size(), 5u);
    for (const auto& answer : channel->posted) {
        EXPECT_EQ(answer.type, Type::error);
        EXPECT_EQ(answer.body->json, R"({"code":400})") << answer.id;
    }
    EXPECT_EQ(channel->posted[0].serviceId, "__Nope__");
}

TEST_F(RouterTest, RegisteringAgainReplacesTheImplementation)
{
    auto first = std::make_shared<HeldClipboard>();
    auto second = std::make_shared<HeldClipboard>();
    manager->registerService(Clipboard::service(), channel, first);
    manager->registerService(Clipboard::service(), channel, second);
    EXPECT_EQ(first.use_count(), 1);
    request("r", "__Clipboard__", "read");
    EXPECT_TRUE(first->reads.empty());
    EXPECT_EQ(second->reads.size(), 1u);
    EXPECT_EQ(manager->routers().front()->implementedServices().size(), 1u);
}

TEST_F(RouterTest, OutgoingCallsWaitForTheAnnouncementAndItsFingerprint)
{
    auto target = manager->expect(MenuActionTarget::service(), channel);
    std::vector<Result<KorvelServices::MenuValidationResult, ServiceError>> results;
    const auto validate = [&] {
        target->validate({"*"}, [&](auto result) { results.push_back(std::move(result)); });
    };

    validate();
    announce(R"({"__Other__":{"fingerprint":"x"}})");
    validate();
    announce(R"({"__MenuActionTarget__":{"fingerprint":"C4DB8A6E44E670207D8E4FA156AA7438"}})");
    validate();
    announce("[]"); // unreadable: the last good announcement stays
    validate();
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].error(), ServiceError::serviceNotFound());
    EXPECT_EQ(results[1].error(), ServiceError::serviceNotFound());
    EXPECT_EQ(results[2].error(), ServiceError::serviceRequiresUpgrade());
    EXPECT_EQ(results[3].error(), ServiceError::serviceRequiresUpgrade());
    EXPECT_TRUE(channel->posted.empty());

    announce(R"({"__MenuActionTarget__":{"fingerprint":"c4db8a6e44e670207d8e4fa156aa7438"}})");
    validate();
    ASSERT_EQ(channel->posted.size(), 1u);
    const Message& sent = channel->posted[0];
    EXPECT_EQ(sent.type, Type::request);
    EXPECT_TRUE(Uuid::isValid(sent.id));
    EXPECT_EQ(sent.id, [&] { std::string upper = sent.id; for (auto& c : upper) c = static_cast<char>(toupper(c)); return upper; }());
    EXPECT_EQ(sent.serviceId, "__MenuActionTarget__");
    EXPECT_EQ(sent.method, "validate");
    EXPECT_EQ(sent.body->json, R"({"action":"*"})");
    EXPECT_EQ(results.size(), 4u);

    channel->deliver({Type::response, sent.id, "ignored", "ignored", Body{R"({"states":[{"action":"undo","enabled":true}]})"}});
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[4].value().states.at(0).action, "undo");
}

TEST_F(RouterTest, RepliesCompleteTheirOwnCallsInAnyOrderAndOnlyOnce)
{
    auto target = manager->expect(MenuActionTarget::service(), channel);
    announce(R"({"__MenuActionTarget__":{"fingerprint":"c4db8a6e44e670207d8e4fa156aa7438"}})");
    std::vector<std::string> completed;
    target->dispatch({"copy"}, [&](auto result) { completed.push_back(result.isSuccess() ? "copy ok" : "copy failed"); });
    target->dispatch({"paste"}, [&](auto result) {
        completed.push_back(result.isFailure() && result.error() == ServiceError::badResponse() ? "paste bad" : "paste ?");
    });
    target->validate({"cut"}, [&](auto result) {
        completed.push_back(result.isFailure() && result.error() == ServiceError::implementation("no") ? "cut failed" : "cut ?");
    });
    ASSERT_EQ(channel->posted.size(), 3u);
    const std::string copyId = channel->posted[0].id, pasteId = channel->posted[1].id, cutId = channel->posted[2].id;
    EXPECT_NE(copyId, pasteId);

    // A discovery answer that carries a parked id updates discovery and leaves the call waiting.
    announce(R"({"__MenuActionTarget__":{"fingerprint":"c4db8a6e44e670207d8e4fa156aa7438"}})", pasteId);
    EXPECT_TRUE(completed.empty());

    channel->deliver({Type::error, cutId, "", "", Body{R"({"code":500,"message":"no"})"}});
    channel->deliver({Type::response, pasteId, "", "", std::nullopt});
    channel->deliver({Type::response, copyId, "", "", Body{R"({"success":true})"}});
    EXPECT_EQ(completed, (std::vector<std::string>{"cut failed", "paste bad", "copy ok"}));

    kxtest::StdoutCapture output;
    channel->deliver({Type::error, copyId, "", "", std::nullopt});
    channel->deliver({Type::response, pasteId, "", "", std::nullopt});
    const std::string& log = output.text();
    EXPECT_NE(log.find("📮 Router received error without corresponding request: "), std::string::npos);
    EXPECT_NE(log.find("📮 Router received response without corresponding request: "), std::string::npos);
    EXPECT_EQ(completed.size(), 3u);
    EXPECT_EQ(manager->routers().front()->waitingRequestCount(), 0u);
}

TEST_F(RouterTest, ErrorAnswersWithoutAReadableBodyAreBadResponses)
{
    auto clipboard = manager->expect(Clipboard::service(), channel);
    announce(R"({"__Clipboard__":{"fingerprint":"fcb5905c78b9ae9e68996493a0e20675"}})");
    std::vector<ServiceError> errors;
    for (const char* body : {"", "[1]", R"({"code":410})"}) {
        clipboard->write({}, [&](auto result) { errors.push_back(result.error()); });
        channel->deliver({Type::error, channel->posted.back().id, "", "",
                          *body ? std::optional<Body>(Body{body}) : std::nullopt});
    }
    EXPECT_EQ(errors, (std::vector<ServiceError>{ServiceError::badResponse(), ServiceError::badResponse(), ServiceError::serviceGone()}));

    // Methods without result succeed whatever body comes back; absent read options send no body.
    std::vector<bool> successes;
    clipboard->write({}, [&](auto result) { successes.push_back(result.isSuccess()); });
    channel->deliver({Type::response, channel->posted.back().id, "", "", Body{"[1,2]"}});
    clipboard->read(std::nullopt, [&](auto result) { successes.push_back(result.isSuccess()); });
    EXPECT_FALSE(channel->posted.back().body);
    channel->deliver({Type::response, channel->posted.back().id, "", "", Body{R"({"items":[{"type":"text/css","string":"a{}"}]})"}});
    EXPECT_EQ(successes, (std::vector<bool>{true, true}));
}

TEST_F(RouterTest, AReleasedRouterIgnoresItsChannel)
{
    auto target = manager->expect(MenuActionTarget::service(), channel);
    manager.reset();
    announce(R"({"__MenuActionTarget__":{"fingerprint":"c4db8a6e44e670207d8e4fa156aa7438"}})");
    bool called = false;
    target->dispatch({"undo"}, [&](auto) { called = true; });
    EXPECT_EQ(channel->posted.size(), 1u); // the wrapper kept the router alive

    target.reset();
    kxtest::StdoutCapture output;
    request("x", "__Nope__", "m");
    channel->deliver({Type::response, channel->posted[0].id, "", "", std::nullopt});
    EXPECT_EQ(output.text(), "");
    EXPECT_FALSE(called);
    EXPECT_EQ(channel->posted.size(), 1u);
}

TEST_F(RouterTest, WhenThePageGoesEveryWaitingCallFailsOnceAndItsServicesAreForgotten)
{
    auto target = manager->expect(MenuActionTarget::service(), channel);
    announce(R"({"__MenuActionTarget__":{"fingerprint":"c4db8a6e44e670207d8e4fa156aa7438"}})");
    std::map<std::string, std::vector<ServiceError>> failures;
    std::vector<ServiceError> retried;
    target->dispatch({"copy"}, [&](auto result) {
        failures["copy"].push_back(result.error());
        // Called again from its completion: the page that would answer is not there yet.
        target->dispatch({"copy"}, [&](auto again) { retried.push_back(again.error()); });
    });
    target->validate({"cut"}, [&](auto result) { failures["cut"].push_back(result.error()); });
    ASSERT_EQ(channel->posted.size(), 2u);
    const std::string copyId = channel->posted[0].id;

    channel->reset();
    EXPECT_EQ(failures, (std::map<std::string, std::vector<ServiceError>>{
                            {"copy", {ServiceError::serviceGone()}}, {"cut", {ServiceError::serviceGone()}}}));
    EXPECT_EQ(retried, std::vector<ServiceError>{ServiceError::serviceNotFound()});
    EXPECT_EQ(manager->routers().front()->waitingRequestCount(), 0u);
    EXPECT_FALSE(manager->routers().front()->latestDiscoveryInfo());
    EXPECT_EQ(channel->posted.size(), 2u);

    // The gone page's late answer is a stray; a second reset finds nothing to fail.
    kxtest::StdoutCapture output;
    channel->deliver({Type::response, copyId, "", "", Body{R"({"success":true})"}});
    channel->reset();
    EXPECT_NE(output.text().find("response without corresponding request"), std::string::npos);
    EXPECT_EQ(failures["copy"].size(), 1u);

    // The next page announces itself and is called as usual.
    announce(R"({"__MenuActionTarget__":{"fingerprint":"c4db8a6e44e670207d8e4fa156aa7438"}})");
    bool answered = false;
    target->dispatch({"paste"}, [&](auto result) { answered = result.isSuccess(); });
    channel->deliver({Type::response, channel->posted.back().id, "", "", Body{R"({"success":true})"}});
    EXPECT_TRUE(answered);
}

TEST_F(RouterTest, AnAnswerToAGonePageIsNotGivenToTheNextOne)
{
    auto clipboard = std::make_shared<HeldClipboard>();
    manager->registerService(Clipboard::service(), channel, clipboard);
    request("r1", "__Clipboard__", "read");
    channel->reset();
    request("r2", "__Clipboard__", "read");
    ASSERT_EQ(clipboard->readCompletions.size(), 2u);
    clipboard->readCompletions[0](Result<Clipboard::Read, ServiceError>::success({}));
    kxtest::settle();
    EXPECT_TRUE(channel->posted.empty());
    clipboard->readCompletions[1](Result<Clipboard::Read, ServiceError>::success({}));
    ASSERT_TRUE(kxtest::spinUntil([&] { return !channel->posted.empty(); }));
    ASSERT_EQ(channel->posted.size(), 1u);
    EXPECT_EQ(channel->posted[0].id, "r2");
}

TEST_F(RouterTest, AReplyKeptByItsImplementationDoesNotKeepTheRouterAlive)
{
    auto clipboard = std::make_shared<HeldClipboard>();
    manager->registerService(Clipboard::service(), channel, clipboard);
    request("r1", "__Clipboard__", "read");
    ASSERT_EQ(clipboard->readCompletions.size(), 1u);
    const std::weak_ptr<Router> router = manager->routers().front();
    const std::weak_ptr<HeldClipboard> implementation = clipboard;
    clipboard.reset();
    manager.reset();
    EXPECT_TRUE(router.expired());
    EXPECT_TRUE(implementation.expired());
}

} // namespace
