// Clipboard items as bytes: what we put on the clipboard, and what another program's bytes
// may and may not become.
#include <gtest/gtest.h>

#include <cmath>

#include "App/exchange/ClipboardItemCoding.h"

namespace {

namespace Coding = kx::ClipboardItemCoding;
using Item = kx::Clipboard::DataItem;
using Type = Coding::Type;

TEST(ClipboardItemCoding, ItemsBecomeTheirTextOrTheirObjectsJSONAndBack)
{
    const Item text{Item::Value_textCss{".a { color: red }"}};
    EXPECT_EQ(Coding::typeOf(text), Type::textCss);
    EXPECT_EQ(Coding::targetName(Type::applicationXKorvelLayers), "application/x-korvel-layers");
    EXPECT_EQ(Coding::typeForTarget("image/svg+xml"), Type::imageSvgXml);
    EXPECT_EQ(Coding::typeForTarget("TEXT/CSS"), std::nullopt);
    EXPECT_EQ(Coding::encode(text), ".a { color: red }");

    kx::UnsafeJSON object;
    object.dictionary["layers"] = nlohmann::json::array({1, 2.5, "x", nullptr});
    const Item layers{Item::Value_applicationXKorvelLayers{object}};
    const auto bytes = Coding::encode(layers);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(nlohmann::json::parse(*bytes), nlohmann::json::parse(R"({"layers":[1,2.5,"x",null]})"));
    const auto back = Coding::decode(Type::applicationXKorvelLayers, *bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::get<Item::Value_applicationXKorvelLayers>(back->value).data, object);

    kx::UnsafeJSON infinite;
    infinite.dictionary["x"] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Coding::encode(Item{Item::Value_applicationXKorvelStyle{infinite}}), std::nullopt);
    EXPECT_EQ(Coding::encode(Item{Item::Value_textPlain{"\xc3"}}), std::nullopt);
}

TEST(ClipboardItemCoding, ForeignBytesThatAreNotWhatTheirTypePromisesAreRefused)
{
    EXPECT_FALSE(Coding::decode(Type::textPlain, "\xff\xfe"));
    EXPECT_FALSE(Coding::decode(Type::applicationXKorvelStyle, ""));
    EXPECT_FALSE(Coding::decode(Type::applicationXKorvelStyle, "[1, 2]"));
    EXPECT_FALSE(Coding::decode(Type::applicationXKorvelStyle, "{\"a\": 1} trailing"));
    EXPECT_FALSE(Coding::decode(Type::applicationXKorvelSketch, "{\"a\": 1e999}"));
    EXPECT_FALSE(Coding::decode(Type::applicationXKorvelSketch, "{\"a\": " + std::string(600, '[') + std::string(600, ']') + "}"));
    EXPECT_TRUE(Coding::decode(Type::applicationXKorvelSketch, "{\"a\": " + std::string(400, '[') + std::string(400, ']') + "}"));
    EXPECT_FALSE(Coding::decode(Type::textCss, std::string(Coding::maximumItemSize + 1, 'a')));
    const auto text = Coding::decode(Type::textPlain, "ünïcode\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(std::get<Item::Value_textPlain>(text->value).string, "ünïcode\n");
}

} // namespace
