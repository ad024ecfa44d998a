#include <gtest/gtest.h>

#include "Services/generated/Clipboard.h"
#include "Services/generated/ProjectState.h"
#include "Services/runtime/ServiceValueHelper.h"
#include "Services/runtime/UnsafeJSON.h"

namespace {

using namespace kx;
using json = nlohmann::json;

UnsafeJSON read(std::string_view text)
{
    return ServiceValueHelper::jsonDecoder().decode<UnsafeJSON>(text);
}

TEST(UnsafeJSON, ReadsEachKindAndWritesItBack)
{
    const auto value = read(R"({"flag":true,"count":1,"ratio":1.5,"whole":2.0,"none":null,"text":"x",
                                "items":[1,[false]],"empty":{},"huge":18446744073709551615,"big":9223372036854775807})");
    const auto& d = value.dictionary;
    EXPECT_TRUE(d.at("flag").is_boolean());
    EXPECT_EQ(d.at("count").type(), json::value_t::number_integer);
    EXPECT_EQ(d.at("ratio").get<double>(), 1.5);
    EXPECT_EQ(d.at("whole").type(), json::value_t::number_integer);
    EXPECT_TRUE(d.at("none").is_null());
    EXPECT_EQ(d.at("items"), json::parse("[1,[false]]"));
    EXPECT_TRUE(d.at("empty").is_object());
    EXPECT_EQ(d.at("huge").type(), json::value_t::number_float);
    EXPECT_EQ(d.at("big").get<std::int64_t>(), INT64_MAX);
    EXPECT_EQ(d.count("absent"), 0u);

    const std::string text = ServiceValueHelper::toMessageBody(value).json;
    EXPECT_NE(text.find(R"("whole":2)"), std::string::npos);
    EXPECT_EQ(text.find(R"("whole":2.)"), std::string::npos);
    EXPECT_NE(text.find(R"("none":null)"), std::string::npos);
    EXPECT_EQ(read(text), value);
}

TEST(UnsafeJSON, TopLevelMustBeAnObjectAndFailuresFailTheContainer)
{
    const auto& decoder = ServiceValueHelper::jsonDecoder();
    EXPECT_THROW(read("[]"), DecodingError);
    EXPECT_THROW(read(R"("x")"), DecodingError);
    EXPECT_THROW(read("3"), DecodingError);
    try {
        read("null");
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::valueNotFound);
    }
    EXPECT_THROW(decoder.decode<Clipboard::DataItem>(R"({"type":"application/x-korvel-style","data":[1]})"), DecodingError);
    EXPECT_THROW(decoder.decode<ProjectState::State>(
                     R"({"tasks":null,"isDocumentDirty":false,"outdated":[],"packages":[]})"),
                 DecodingError);
}

TEST(UnsafeJSON, ValuesOutsideTheSevenKindsCannotBeWritten)
{
    UnsafeJSON value;
    value.dictionary["n"] = json(std::nan(""));
    EXPECT_THROW(ServiceValueHelper::jsonEncoder().encode(value), EncodingError);
    value.dictionary["n"] = json::binary({1, 2});
    EXPECT_THROW(ServiceValueHelper::jsonEncoder().encode(value), EncodingError);
    value.dictionary["n"] = json(std::uint64_t(1) << 63);
    EXPECT_THROW(ServiceValueHelper::jsonEncoder().encode(value), EncodingError);
    value.dictionary["n"] = json::array({json::object({{"deep", json(INFINITY)}})});
    EXPECT_EQ(ServiceValueHelper::toMessageBody(value).json, "undefined");
    value.dictionary["n"] = json(std::uint64_t(7));
    EXPECT_EQ(ServiceValueHelper::toMessageBody(value).json, R"({"n":7})");
}

} // namespace
