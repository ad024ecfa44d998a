// The strict JSON rules, value kind by value kind, on the generated types themselves. The
// testing types combine every kind and serve as the codec's acceptance test.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Services/generated/Clipboard.h"
#include "Services/generated/KorvelServices.h"
#include "Services/generated/PreviewRunner.h"
#include "Services/generated/PublicStoreClient.h"
#include "Services/generated/UserNotifications.h"
#include "Services/generated/ZzzTestingTypes.h"
#include "Services/runtime/ServiceValueHelper.h"

namespace {

using namespace kx;
using Kind = DecodingError::Kind;

template <class T>
T decode(std::string_view text)
{
    return ServiceValueHelper::jsonDecoder().decode<T>(text);
}

template <class T>
DecodingError decodeFailure(std::string_view text)
{
    try {
        decode<T>(text);
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "decoded: " << text;
    return DecodingError(Kind::dataCorrupted, {}, "");
}

template <class T>
nlohmann::json encoded(const T& value)
{
    return nlohmann::json::parse(ServiceValueHelper::jsonEncoder().encode(value));
}

nlohmann::json parsed(std::string_view text)
{
    return nlohmann::json::parse(text);
}

TEST(JSONCoding, ScalarFieldsHaveExactlyTheirJSONTypes)
{
    using namespace KorvelServices;
    EXPECT_TRUE(decode<MenuDispatchResult>(R"({"success":true})").success);
    EXPECT_EQ(decodeFailure<MenuDispatchResult>(R"({"success":1})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<MenuDispatchResult>(R"({"success":"true"})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<MenuAction>(R"({"action":null})").kind(), Kind::valueNotFound);
    EXPECT_EQ(decodeFailure<MenuAction>(R"({"action":5})").kind(), Kind::typeMismatch);

    // Integers read as doubles; whole doubles as integers, within range only.
    const auto point = decode<KorvelServices::Point>(R"({"x":3,"y":4})");
    EXPECT_EQ(point.x, 3.0);
    EXPECT_EQ(point.y, 4.0);
    EXPECT_EQ(decodeFailure<KorvelServices::Point>(R"({"x":"3","y":4})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decode<ContextMenuResult>(R"({"indexPath":[0,2.0,1e2]})").indexPath, (std::vector<std::int64_t>{0, 2, 100}));
    EXPECT_EQ(decodeFailure<ContextMenuResult>(R"({"indexPath":[0,1.5]})").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<ContextMenuResult>(R"({"indexPath":[9223372036854775808]})").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<ContextMenuResult>(R"({"indexPath":[-9.3e18]})").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decode<ContextMenuResult>(R"({"indexPath":[-9223372036854775808]})").indexPath.front(), INT64_MIN);
    EXPECT_EQ(decodeFailure<ContextMenuResult>(R"({"indexPath":[true]})").kind(), Kind::typeMismatch);
}

TEST(JSONCoding, RecordsKeepOptionalsOutAndIgnoreUnknownKeys)
{
    using namespace KorvelServices;
    EXPECT_EQ(encoded(Color{}), parsed("{}"));
    EXPECT_FALSE(decode<Color>("{}").color);
    EXPECT_FALSE(decode<Color>(R"({"color":null})").color);
    EXPECT_EQ(decode<Color>(R"j({"color":"rgba(1, 2, 3, 1)"})j").color, "rgba(1, 2, 3, 1)");

    const auto state = decodeFailure<MenuActionState>(R"({"action":"undo","enabled":"yes"})");
    EXPECT_EQ(state.kind(), Kind::typeMismatch);
    EXPECT_EQ(state.codingPath(), (std::vector<std::string>{"enabled"}));

    const auto missing = decodeFailure<MenuAction>("{}");
    EXPECT_EQ(missing.kind(), Kind::keyNotFound);
    EXPECT_NE(missing.debugDescription().find("\"action\""), std::string::npos);

    EXPECT_EQ(encoded(decode<MenuAction>(R"({"action":"copy","extra":1})")), parsed(R"({"action":"copy"})"));
    MenuItemOptions cut;
    cut.label = "Cut";
    EXPECT_EQ(encoded(cut), parsed(R"({"label":"Cut"})"));
    EXPECT_EQ(decodeFailure<MenuAction>("[]").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<MenuAction>("null").kind(), Kind::valueNotFound);
    EXPECT_EQ(decodeFailure<MenuAction>(R"({"action":"copy")").kind(), Kind::dataCorrupted);

    const auto menu = decode<ContextMenu>(R"({"items":[{"type":"separator"},{"label":"More","submenu":[
        {"label":"Deep","submenu":[]}]}],"location":null})");
    ASSERT_EQ(menu.items.size(), 2u);
    EXPECT_EQ(menu.items[0].type, "separator");
    EXPECT_FALSE(menu.items[0].label || menu.items[0].submenu || menu.location);
    ASSERT_TRUE(menu.items[1].submenu);
    EXPECT_TRUE((*menu.items[1].submenu)[0].submenu->empty());
    EXPECT_EQ(encoded(menu), parsed(R"({"items":[{"type":"separator"},{"label":"More","submenu":[{"label":"Deep","submenu":[]}]}]})"));
    EXPECT_EQ(decodeFailure<ContextMenu>(R"({"location":{"x":1,"y":2}})").kind(), Kind::keyNotFound);

    // A failure deep inside names its whole path.
    const auto deep = decodeFailure<ContextMenu>(R"({"items":[{},{"submenu":[{"index":0.5}]}]})");
    EXPECT_EQ(deep.codingPath(), (std::vector<std::string>{"items", "Index 1", "submenu", "Index 0", "index"}));
}

TEST(JSONCoding, RawValueEnumerationsRefuseUnknownTextWithTheirOwnName)
{
    using namespace KorvelServices;
    const auto event = decode<MagnificationEvent>(
        R"({"type":"magnificationBegan","magnification":1,"normalizedTouchOffset":{"x":0,"y":1}})");
    EXPECT_EQ(event.type, MagnificationEventType::magnificationBegan);
    EXPECT_EQ(event.magnification, 1.0);

    const auto wrongCase = decodeFailure<MagnificationEvent>(
        R"({"type":"MagnificationBegan","magnification":1,"normalizedTouchOffset":{"x":0,"y":1}})");
    EXPECT_EQ(wrongCase.kind(), Kind::dataCorrupted);
    EXPECT_EQ(wrongCase.debugDescription(), "Cannot initialize MagnificationEventType from invalid String value MagnificationBegan");
    EXPECT_EQ(decodeFailure<MagnificationEvent>(R"({"type":"magnificationEnded","magnification":0,"normalizedTouchOffset":null})").kind(),
              Kind::valueNotFound);

    EXPECT_EQ(decodeFailure<Clipboard::ReadOptions>(R"({"types":["text/html"]})").debugDescription(),
              "Cannot initialize TypeEnum from invalid String value text/html");
    EXPECT_EQ(decodeFailure<UserNotifications::Notification>(R"({"id":"","title":"","show":"Always"})").debugDescription(),
              "Cannot initialize NotificationShow from invalid String value Always");
    EXPECT_EQ(encoded(Clipboard::ReadOptions{{Clipboard::DataItem::TypeEnum::textCss}}), parsed(R"({"types":["text/css"]})"));

    EXPECT_EQ(allCases<MagnificationEventType>(),
              (std::array{MagnificationEventType::magnificationBegan, MagnificationEventType::magnificationChanged,
                          MagnificationEventType::magnificationEnded}));
    EXPECT_EQ(rawValue(Clipboard::DataItem::TypeEnum::applicationXKorvelSketch), "application/x-korvel-sketch");
    EXPECT_EQ(enumFromRawValue<UserNotifications::PermissionStatus>("notDetermined"),
              UserNotifications::PermissionStatus::notDetermined);
    EXPECT_FALSE(enumFromRawValue<ZzzTestingTypes::ObjectStringEnum>(""));
}

TEST(JSONCoding, TaggedUnionsReadTheirTagKeyFirst)
{
    using Clipboard::DataItem;
    const auto item = decode<DataItem>(R"({"type":"text/plain","string":"abc","extra":1})");
    ASSERT_TRUE(std::holds_alternative<DataItem::Value_textPlain>(item.value));
    EXPECT_EQ(std::get<DataItem::Value_textPlain>(item.value).string, "abc");
    EXPECT_EQ(encoded(item), parsed(R"({"type":"text/plain","string":"abc"})"));

    const auto unknownTag = decodeFailure<DataItem>(R"({"type":"Text/plain","string":"abc"})");
    EXPECT_EQ(unknownTag.kind(), Kind::featureUnsupported);
    EXPECT_EQ(unknownTag.domain(), "NSCocoaErrorDomain");
    EXPECT_EQ(unknownTag.code(), 3328);
    EXPECT_EQ(decodeFailure<DataItem>(R"({"string":"abc"})").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<DataItem>(R"({"type":7})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<DataItem>(R"({"type":"text/plain","data":{}})").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<DataItem>(R"({"type":"application/x-korvel-layers","data":[]})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<Clipboard::Write>("{}").kind(), Kind::keyNotFound);
    EXPECT_TRUE(decode<Clipboard::Read>(R"({"items":[]})").items.empty());

    // Other tag keys, cases without payload, and a union inside a union.
    using PreviewRunner::State;
    const auto loaded = decode<State>(R"({"status":"loaded","presentation":{"type":"device","device":{"type":"frame","theme":"dark"}}})");
    const auto& presentation = std::get<State::Value_loaded>(loaded.value).presentation;
    EXPECT_EQ(std::get<PreviewRunner::Presentation::Value_device>(presentation.value).device.type, "frame");
    EXPECT_EQ(encoded(decode<PreviewRunner::Presentation>(R"({"type":"responsive","size":{"width":1,"height":2}})")),
              parsed(R"({"type":"responsive"})"));
    EXPECT_EQ(encoded(decode<PreviewRunner::Error>(R"({"type":"unknown","message":null})")), parsed(R"({"type":"unknown"})"));
    EXPECT_EQ(decodeFailure<State>(R"({"type":"loading"})").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<PreviewRunner::Presentation>(R"({"type":"frame"})").kind(), Kind::keyNotFound);

    using PublicStoreClient::PublishStatus;
    const auto rejected = decode<PublishStatus>(R"({"status":"rejected","error":{"message":"m"}})");
    EXPECT_EQ(std::get<PublishStatus::Value_rejected>(rejected.value).error.message, "m");
    EXPECT_EQ(decodeFailure<PublishStatus>(R"({"status":"rejected","error":{}})").kind(), Kind::keyNotFound);
    EXPECT_EQ(encoded(PublicStoreClient::PreflightResponse{PublicStoreClient::PreflightResponse::Value_failure{"no"}}),
              parsed(R"({"result":"failure","errorMessage":"no"})"));
}

TEST(JSONCoding, TestingTypesCombineEveryKindRecursively)
{
    using namespace ZzzTestingTypes;
    const auto plain = decode<Object>(R"({"name":"n","stringEnum":"a","objectEnum":null})");
    EXPECT_FALSE(plain.objectEnum);
    EXPECT_EQ(encoded(plain), parsed(R"({"name":"n","stringEnum":"a"})"));

    EXPECT_EQ(decodeFailure<Object>(R"({"name":"n","stringEnum":"A"})").debugDescription(),
              "Cannot initialize ObjectStringEnum from invalid String value A");
    EXPECT_EQ(decodeFailure<Object>(R"({"name":"n","stringEnum":1})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<Object>(R"({"name":"n"})").kind(), Kind::keyNotFound);

    const auto counted = decode<Object>(R"({"name":"n","stringEnum":"b","objectEnum":{"foo":"integer","count":3}})");
    EXPECT_EQ(std::get<ObjectEnum::Value_integer>(counted.objectEnum->value).count, 3);
    EXPECT_EQ(encoded(counted)["objectEnum"], parsed(R"({"foo":"integer","count":3})"));
    EXPECT_EQ(decodeFailure<Object>(R"({"name":"n","stringEnum":"b","objectEnum":{"foo":"integer","count":2.5}})").kind(),
              Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<Object>(R"({"name":"n","stringEnum":"b","objectEnum":{"foo":"Array","objects":[]}})").code(), 3328);
    EXPECT_EQ(decodeFailure<Object>(R"({"name":"n","stringEnum":"b","objectEnum":{"bar":"x"}})").kind(), Kind::keyNotFound);

    const std::string nested = R"({"name":"outer","stringEnum":"c","objectEnum":{"foo":"array","objects":[
        {"name":"inner","stringEnum":"a","objectEnum":{"foo":"string","bar":"x"}},
        {"name":"leaf","stringEnum":"b","objectEnum":{"foo":"array","objects":[]}}]}})";
    const auto tree = decode<Object>(nested);
    const auto& objects = std::get<ObjectEnum::Value_array>(tree.objectEnum->value).objects;
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(std::get<ObjectEnum::Value_string>(objects[0].objectEnum->value).bar, "x");
    EXPECT_EQ(encoded(tree), parsed(nested));

    // A failure at the bottom fails the outermost value.
    const auto failure = decodeFailure<Object>(R"({"name":"o","stringEnum":"a","objectEnum":{"foo":"array","objects":[
        {"name":"i","stringEnum":"d"}]}})");
    EXPECT_EQ(failure.codingPath(), (std::vector<std::string>{"objectEnum", "objects", "Index 0", "stringEnum"}));
}

TEST(JSONCoding, EncodingRefusesWhatJSONCannotCarry)
{
    using namespace KorvelServices;
    const MagnificationEvent event{MagnificationEventType::magnificationChanged, std::nan(""), {0.5, 0.25}};
    EXPECT_THROW(ServiceValueHelper::jsonEncoder().encode(event), EncodingError);
    EXPECT_EQ(ServiceValueHelper::toMessageBody(event).json, "undefined");
    EXPECT_EQ(ServiceValueHelper::toMessageBody(KorvelServices::Point{INFINITY, 0}).json, "undefined");
    EXPECT_EQ(ServiceValueHelper::toMessageBody(MenuAction{"\xff"}).json, "undefined");

    const MagnificationEvent step{MagnificationEventType::magnificationChanged, 0.125, {0.5, 0.25}};
    EXPECT_EQ(ServiceValueHelper::toMessageBody(step).json,
              R"({"type":"magnificationChanged","magnification":0.125,"normalizedTouchOffset":{"x":0.5,"y":0.25}})");
    EXPECT_EQ(ServiceValueHelper::toMessageBody(MenuAction{"a\"b\n\x01/é"}).json, "{\"action\":\"a\\\"b\\n\\u0001/é\"}");
    EXPECT_EQ(ServiceValueHelper::toMessageBody(KorvelServices::Point{0.1 + 0.2, -0.0}).json, R"({"x":0.30000000000000004,"y":-0})");
}

TEST(JSONCoding, HostileTextIsRefusedWithoutCrashing)
{
    using ZzzTestingTypes::Object;
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += R"({"name":"n","stringEnum":"a","objectEnum":{"foo":"array","objects":[)";
    EXPECT_EQ(decodeFailure<Object>(deep).kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<Clipboard::Write>(std::string(200000, '[')).kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<KorvelServices::Point>(R"({"x":1e400,"y":0})").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<KorvelServices::MenuAction>("{\"action\":\"\xc3\x28\"}").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<KorvelServices::MenuAction>("").kind(), Kind::dataCorrupted);
}

} // namespace
