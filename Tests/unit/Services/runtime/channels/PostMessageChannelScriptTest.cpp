// The pure halves of the web-view channel: the exact outbound texts and the inbound checks,
// plus delivery to listeners and the malformed-message line, all without a web view.
#include <gtest/gtest.h>

#include "Services/runtime/channels/PostMessageChannel.h"
#include "support/StdoutCapture.h"

namespace {

using kx::PostMessageChannel;
using Message = kx::ServiceChannel::Message;
using Type = kx::ServiceChannel::MessageType;
using Body = kx::ServiceChannel::MessageBody;

TEST(PostMessageChannelScript, PostsTheEnvelopeAndTheBodyAsTwoTexts)
{
    const Message plain{Type::request, "a", "b", "c", std::nullopt};
    const auto texts = PostMessageChannel::postingTexts(plain, "swiftWindowParent");
    EXPECT_EQ(texts.envelope, R"({"source":"swiftWindowParent","type":"request","id":"a","serviceId":"b","method":"c"})");
    EXPECT_EQ(texts.body, "");
    const Message withBody{Type::error, "i\"d\n", "", "m", Body{R"({"code":400})"}};
    const auto posted = PostMessageChannel::postingTexts(withBody, "h");
    EXPECT_EQ(posted.envelope, R"({"source":"h","type":"error","id":"i\"d\n","serviceId":"","method":"m","b":true})");
    EXPECT_EQ(posted.body, R"({"code":400})");
    // Text that is not UTF-8 has no JavaScript string, and a body without JSON form no text:
    // the page sees undefined in their place.
    for (const Message& broken :
         {Message{Type::response, "\xff", "s", "m", Body{"\xfe"}}, Message{Type::response, "i", "s", "m", Body{"undefined"}}}) {
        const auto left = PostMessageChannel::postingTexts(broken, "h");
        EXPECT_EQ(left.envelope.find("\"b\""), std::string::npos) << left.envelope;
        EXPECT_EQ(left.body, "");
    }
    EXPECT_EQ(PostMessageChannel::postingTexts({Type::response, "\xff", "s", "m", std::nullopt}, "h").envelope,
              R"({"source":"h","type":"response","serviceId":"s","method":"m"})");
}

TEST(PostMessageChannelParse, ReadsWellFormedMessages)
{
    const auto plain = PostMessageChannel::parseMessage(R"({"type":"request","id":"1","serviceId":"__Beep__","method":"beep"})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, (Message{Type::request, "1", "__Beep__", "beep", std::nullopt}));

    const auto full = PostMessageChannel::parseMessage(
        R"( { "__postMessageChannelSource":"x", "type" : "response", "id":"\u00e9\ud83d\ude00\n", "serviceId":"", "method":"",
              "body": {"items":[{"type":"text/plain","string":"]}\""}]}, "extra":[1,{"a":null}] } )");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->id, "é😀\n");
    EXPECT_EQ(full->body->json, R"({"items":[{"type":"text/plain","string":"]}\""}]})");

    for (const char* body : {R"("text")", "3", "null", "true"}) {
        const auto scalar = PostMessageChannel::parseMessage(
            std::string(R"({"type":"error","id":"1","serviceId":"s","method":"m","body":)") + body + "}");
        ASSERT_TRUE(scalar) << body;
        EXPECT_FALSE(scalar->body) << body;
    }
    EXPECT_EQ(PostMessageChannel::parseMessage(R"({"type":"request","id":"1","serviceId":"s","method":"m","body":[]})")->body->json, "[]");
}

TEST(PostMessageChannelParse, RefusesMalformedMessages)
{
    for (const char* text : {
             R"({"id":"1","serviceId":"s","method":"m"})",
             R"({"type":"Request","id":"1","serviceId":"s","method":"m"})",
             R"({"type":"request","id":1,"serviceId":"s","method":"m"})",
             R"({"type":"request","id":"1","serviceId":"s"})",
             R"({"type":"request","id":"1","serviceId":"s","method":null})",
             R"("request")",
             R"([{"type":"request","id":"1","serviceId":"s","method":"m"}])",
             R"({"type":"request","id":"1","serviceId":"s","method":"m","body":{"a":}})",
             R"({"type":"request","id":"1","serviceId":"s","method":"m"} x)",
             R"({"type":"request","id":"\ud800","serviceId":"s","method":"m"})",
             "{\"type\":\"request\",\"id\":\"\xff\",\"serviceId\":\"s\",\"method\":\"m\"}",
             R"({"type":"request","id":"1","serviceId":"s","method":"m","body":01})",
             "",
         })
        EXPECT_FALSE(PostMessageChannel::parseMessage(text)) << text;

    // Depth is followed without recursion.
    const std::string deep = R"({"type":"request","id":"1","serviceId":"s","method":"m","body":)" + std::string(300000, '[') +
                             std::string(300000, ']') + "}";
    EXPECT_EQ(PostMessageChannel::parseMessage(deep)->body->json.size(), 600000u);
}

TEST(PostMessageChannelParse, DeliversToEveryListenerOrLogsTheMalformed)
{
    const auto channel = PostMessageChannel::make();
    EXPECT_EQ(channel->parentFrameMessageHandlerName(), "swiftWindowParent");
    EXPECT_EQ(channel->webView(), nullptr);
    std::vector<std::string> calls;
    channel->addMessageListener([&](const Message& m) { calls.push_back("first " + m.id + " " + m.body->json); });
    channel->addMessageListener([&](const Message& m) { calls.push_back("second " + m.id + " " + m.body->json); });

    // The last listener gets the message handed over, the others each a whole copy.
    channel->didReceiveMessageText(R"({"type":"request","id":"7","serviceId":"s","method":"m","body":[1]})", "");
    EXPECT_EQ(calls, (std::vector<std::string>{"first 7 [1]", "second 7 [1]"}));

    kxtest::StdoutCapture malformed;
    channel->didReceiveMessageText(R"({"type":"Request"})", R"({"type":"Request"})");
    channel->didReceiveMessageText(std::nullopt, "nil");
    EXPECT_EQ(malformed.text(),
              "✉️ PostMessageChannel received unexpected or malformed message: {\"type\":\"Request\"}\n"
              "✉️ PostMessageChannel received unexpected or malformed message: nil\n");
    EXPECT_EQ(calls.size(), 2u);

    // Without a web view, posting does nothing and reports nothing.
    kxtest::StdoutCapture silent;
    channel->postMessage({Type::request, "1", "s", "m", std::nullopt});
    EXPECT_EQ(silent.text(), "");
}

} // namespace
