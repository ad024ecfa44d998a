// The host's pure parts: JSON text, the named-message parser, the navigation rules and the
// user-script texts.
#include <gtest/gtest.h>

#include "App/web/WebViewController.h"

namespace {

using kx::WebViewController;
using nlohmann::json;

TEST(WebViewControllerJson, ToJsonWritesEveryValueAndNeverFails)
{
    for (const auto& [value, text] : std::vector<std::pair<json, std::string>>{
             {json(), "null"}, {"abc", "\"abc\""}, {2.5, "2.5"}, {true, "true"}, {json{{"key", 1}}, R"({"key":1})"},
             // What has no JSON text becomes null rather than a broken text.
             {json::array({1, std::nan("")}), "null"}, {std::string("\xff\xfe"), "null"}})
        EXPECT_EQ(WebViewController::toJson(value), text);
    EXPECT_EQ(WebViewController::toJson(std::vector<std::uint8_t>{'[', '1', ',', '2', ']'}), "[1,2]");
    EXPECT_EQ(WebViewController::toJson(std::vector<std::uint8_t>{0xC3, 0x28}), std::nullopt);
}

TEST(WebViewControllerJson, FromJsonAcceptsFragmentsAndRejectsTheRest)
{
    EXPECT_EQ(WebViewController::fromJson("5"), json(5));
    EXPECT_EQ(WebViewController::fromJson("\"text\""), json("text"));
    for (const char* bad : {"", "{", "[1,]", "\"\xff\""})
        EXPECT_EQ(WebViewController::fromJson(std::string(bad)), std::nullopt) << bad;
    EXPECT_EQ(WebViewController::fromJson(std::nullopt), std::nullopt);

    // A page's text nested past any design must not take the stack of whoever writes it back.
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const std::optional<json> deep = WebViewController::fromJson(nested(200000));
    EXPECT_FALSE(deep.has_value());
    EXPECT_EQ(WebViewController::toJson(deep.value_or(json())), "null");
    EXPECT_EQ(WebViewController::toJson(WebViewController::fromJson(nested(512)).value_or(json())), nested(512));
    EXPECT_EQ(WebViewController::fromJson("[\"[[[\"]"), json::array({"[[["}));
}

TEST(WebViewControllerBridge, MessagesNeedAnObjectWithAStringMethod)
{
    auto parse = [](std::optional<std::string> body) {
        return WebViewController::parseScriptMessage(body, body.value_or("[object Object]"));
    };
    auto ready = parse(R"({"method":"ready"})");
    ASSERT_TRUE(ready.message);
    EXPECT_EQ(ready.message->method, "ready");
    EXPECT_EQ(ready.message->arguments, std::nullopt); // absent arguments stay absent
    EXPECT_EQ(parse(R"({"method":"save","arguments":null,"other":1})").message->arguments, json());
    EXPECT_EQ(parse(R"({"method":"save","arguments":{}})").message->arguments, json::object());

    for (const char* body : {"{}", R"({"method":5})"})
        EXPECT_EQ(parse(std::string(body)).failure, std::string("Failed parsing method on script message: ") + body);
    for (const char* body : {"[1]", "\"method\"", "not json"})
        EXPECT_EQ(parse(std::string(body)).failure, std::string("Failed parsing script message: ") + body);
    EXPECT_EQ(parse(std::nullopt).failure, "Failed parsing script message: [object Object]");
    EXPECT_LT(parse("[" + std::string(5000, '1') + "]").failure.size(), 1200u); // a huge body is cut short
}

TEST(WebViewControllerNavigation, OnlyClickedLinksToOtherHostsLeaveTheView)
{
    auto allows = [](std::optional<std::string> url, bool link, bool rule = true) {
        return WebViewController::allowsNavigation({std::move(url), link}, rule);
    };
    EXPECT_FALSE(allows("https://example.com/page", true));
    EXPECT_TRUE(allows("https://example.com/page", false)); // forms, history, reloads, scripts
    EXPECT_TRUE(allows("https://example.com/page", true, false));
    EXPECT_TRUE(allows(std::nullopt, true));
    for (const char* local : {"http://localhost:8080/a", "http://127.0.0.1:3000/", "http://my-localhost.test/",
                              "file:///home/user/page.html", "about:blank", "mailto:a@b.c"})
        EXPECT_TRUE(allows(std::string(local), true)) << local;
    EXPECT_FALSE(allows("http://LOCALHOST.example.com/", true)); // the host test is case-sensitive
    EXPECT_TRUE(WebViewController::allowsNavigation({"https://example.com/page", true, true}, true)); // in a sub-frame
}

TEST(WebViewControllerNavigation, NewWindowsOpenOnlyWebAndMailSchemes)
{
    for (const char* url : {"https://example.com/", "HTTPS://EXAMPLE.COM/", "mailto:someone@example.com"})
        EXPECT_TRUE(WebViewController::opensNewWindowRequestInSystem(std::string(url))) << url;
    for (const char* url : {"file:///tmp/x?next=https://example.com", "custom:open?u=http://example.com", "no scheme"})
        EXPECT_FALSE(WebViewController::opensNewWindowRequestInSystem(std::string(url))) << url;
    EXPECT_FALSE(WebViewController::opensNewWindowRequestInSystem(std::nullopt));
}

TEST(WebViewControllerScripts, PlaceholdersAreReplacedEverywhere)
{
    EXPECT_EQ(WebViewController::bridgeScriptSource("a={{ appServicesConfig }};b={{ appServicesConfig }};", "{}"),
              "a={};b={};");
    EXPECT_EQ(WebViewController::appearanceScriptSource("x={{ hasDarkAppearance }}", true), "x=true");
    EXPECT_EQ(WebViewController::appearanceScriptSource("x={{ hasDarkAppearance }}", false), "x=false");
    EXPECT_EQ(WebViewController::appearanceMessage(false), "window.postMessage({ appearance: 'light' }, '*');");
}

} // namespace
