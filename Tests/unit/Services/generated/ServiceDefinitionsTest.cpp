// The definitions as the pages know them (ids, fingerprints, wire names) and the incoming and
// outgoing wrappers between messages and typed calls.
#include <gtest/gtest.h>

#include <regex>

#include "Services/generated/Beep.h"
#include "Services/generated/Clipboard.h"
#include "Services/generated/ColorSampler.h"
#include "Services/generated/ContextMenuPresenter.h"
#include "Services/generated/FeedbackService.h"
#include "Services/generated/GestureEventTarget.h"
#include "Services/generated/MenuActionTarget.h"
#include "Services/generated/PrivateStoreClient.h"
#include "Services/generated/ToolOwner.h"
#include "Services/generated/ZzzTestingTypes.h"

namespace {

using namespace kx;
using Body = ServiceChannel::MessageBody;
using Reply = Result<OptionalMessageBody, ServiceError>;

TEST(ServiceDefinitions, IdsAndFingerprintsAreThePagesOwn)
{
    EXPECT_EQ(&Clipboard::service(), &Clipboard::service());
    const std::pair<std::string, std::string> natives[] = {
        {Beep::service().id, Beep::service().fingerprint},
        {Clipboard::service().id, Clipboard::service().fingerprint},
        {ColorSampler::service().id, ColorSampler::service().fingerprint},
        {GestureEventTarget::service().id, GestureEventTarget::service().fingerprint},
        {MenuActionTarget::service().id, MenuActionTarget::service().fingerprint},
        {ContextMenuPresenter::service().id, ContextMenuPresenter::service().fingerprint},
    };
    const std::pair<std::string, std::string> expected[] = {
        {"__Beep__", "61a1004615dc1e33269b7165105b3499"},
        {"__Clipboard__", "fcb5905c78b9ae9e68996493a0e20675"},
        {"__ColorSampler__", "47e58950414de7a0679a8b7847789793"},
        {"__GestureEventTarget__", "eea70ddc08f14b4c6d18b1989490f536"},
        {"__MenuActionTarget__", "c4db8a6e44e670207d8e4fa156aa7438"},
        {"__ContextMenuPresenter__", "a93df917284e037b101c5c2e51738ad7"},
    };
    for (std::size_t i = 0; i < std::size(natives); ++i)
        EXPECT_EQ(natives[i], expected[i]);

    EXPECT_EQ(FeedbackService::service().id, "__FeedbackService__");
    EXPECT_EQ(ZzzTestingTypes::service().id, "__ZzzTestingTypes__");
    EXPECT_TRUE(std::regex_match(PrivateStoreClient::service().fingerprint, std::regex("[0-9a-f]{32}")));
}

struct Recorded {
    std::vector<Reply> replies;
    ServiceReply reply()
    {
        return [this](Reply r) { replies.push_back(std::move(r)); };
    }
};

class Sampler final : public ColorSampler::Interface {
public:
    void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) override
    {
        ++calls;
        completionHandler(Result<KorvelServices::Color, ServiceError>::success({"rgba(255, 0, 0, 1)"}));
    }
    int calls = 0;
};

class Presenter final : public ContextMenuPresenter::Interface {
public:
    void showContextMenu(KorvelServices::ContextMenu menu, CompletionHandler<KorvelServices::ContextMenuResult> completionHandler) override
    {
        if (menu.items.empty())
            return completionHandler(Result<KorvelServices::ContextMenuResult, ServiceError>::failure(ServiceError::implementation("empty")));
        completionHandler(Result<KorvelServices::ContextMenuResult, ServiceError>::success({{0, 1}}));
    }
};

class Beeper final : public Beep::Interface {
public:
    void beep(CompletionHandler<Unit> completionHandler) override { completionHandler(Result<Unit, ServiceError>::success({})); }
};

TEST(IncomingWrappers, ServeMethodsByExactNameAndReadTheirArguments)
{
    const auto sampler = std::make_shared<Sampler>();
    const auto sample = ColorSampler::service().newIncomingWrapper(sampler);
    Recorded recorded;
    sample("sampleColor", Body{"not even JSON"}, recorded.reply());
    sample("sampleColor", std::nullopt, recorded.reply());
    sample("samplecolor", std::nullopt, recorded.reply());
    ASSERT_EQ(recorded.replies.size(), 3u);
    EXPECT_EQ(recorded.replies[0].value()->json, R"j({"color":"rgba(255, 0, 0, 1)"})j");
    EXPECT_EQ(recorded.replies[1].value()->json, recorded.replies[0].value()->json);
    EXPECT_EQ(recorded.replies[2].error(), ServiceError::badRequest());
    EXPECT_EQ(sampler->calls, 2);

    const auto present = ContextMenuPresenter::service().newIncomingWrapper(std::make_shared<Presenter>());
    present("showContextMenu", Body{R"({"items":[{"label":"a"}]})"}, recorded.reply());
    present("showContextMenu", Body{R"({"items":[]})"}, recorded.reply());
    present("showContextMenu", std::nullopt, recorded.reply());
    EXPECT_EQ(recorded.replies[3].value()->json, R"({"indexPath":[0,1]})");
    EXPECT_EQ(recorded.replies[4].error(), ServiceError::implementation("empty"));
    EXPECT_EQ(recorded.replies[5].error(), ServiceError::badRequest());

    const auto beep = Beep::service().newIncomingWrapper(std::make_shared<Beeper>());
    beep("beep", Body{"[1]"}, recorded.reply());
    EXPECT_TRUE(recorded.replies[6].isSuccess());
    EXPECT_FALSE(recorded.replies[6].value());

    // Services without methods answer every request badRequest.
    const auto shell = ToolOwner::service().newIncomingWrapper(std::make_shared<ToolOwner::Interface>());
    shell("activeTool", Body{"{}"}, recorded.reply());
    EXPECT_EQ(recorded.replies[7].error(), ServiceError::badRequest());
}

TEST(OutgoingWrappers, EncodeArgumentsAndReadResultsOrBadResponse)
{
    struct Sent {
        std::string method;
        OptionalMessageBody body;
        ServiceReply completion;
    };
    std::vector<Sent> sent;
    const SendFunction send = [&](const std::string& method, OptionalMessageBody body, ServiceReply completion) {
        sent.push_back({method, std::move(body), std::move(completion)});
    };

    const auto gestures = GestureEventTarget::service().newOutgoingWrapper(send);
    std::vector<bool> done;
    gestures->dispatchMagnificationEvent({KorvelServices::MagnificationEventType::magnificationEnded, 0, {}},
                                         [&](auto result) { done.push_back(result.isSuccess()); });
    EXPECT_EQ(sent[0].method, "dispatchMagnificationEvent");
    EXPECT_EQ(sent[0].body->json, R"({"type":"magnificationEnded","magnification":0,"normalizedTouchOffset":{"x":0,"y":0}})");
    sent[0].completion(Reply::success(Body{"anything"}));

    const auto menus = MenuActionTarget::service().newOutgoingWrapper(send);
    std::vector<Result<KorvelServices::MenuValidationResult, ServiceError>> validations;
    for (int i = 0; i < 3; ++i)
        menus->validate({"*"}, [&](auto result) { validations.push_back(std::move(result)); });
    sent[1].completion(Reply::success(std::nullopt));
    sent[2].completion(Reply::success(Body{R"({"states":[{"action":"undo","enabled":1}]})"}));
    sent[3].completion(Reply::failure(ServiceError::serviceGone()));
    EXPECT_EQ(done, (std::vector<bool>{true}));
    EXPECT_EQ(validations[0].error(), ServiceError::badResponse());
    EXPECT_EQ(validations[1].error(), ServiceError::badResponse());
    EXPECT_EQ(validations[2].error(), ServiceError::serviceGone());
}

} // namespace
