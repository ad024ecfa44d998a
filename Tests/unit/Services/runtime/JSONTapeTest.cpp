// The one-pass reader and the bulk string loops: the same verdicts and documents as nlohmann's
// strict parser, the same strictness at every position of the sixteen-byte chunks, and the
// typed decoder reading repeated names, late tags and escaped tags as a document would.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Services/generated/Clipboard.h"
#include "Services/runtime/Discovery.h"
#include "Services/runtime/JSONScanner.h"
#include "Services/runtime/ServiceValueHelper.h"
#include "Services/runtime/UnsafeJSON.h"

namespace {

using namespace kx;

std::optional<nlohmann::json> ours(std::string_view text)
{
    try {
        return JSONDecoder::parse(text);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

std::optional<nlohmann::json> reference(std::string_view text)
{
    auto document = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded())
        return std::nullopt;
    return document;
}

TEST(JSONTape, ReadsWhatTheStrictReferenceReads)
{
    for (std::string_view text : {
             R"({"a":[1,-0,2.5,1e2,-9223372036854775808,9223372036854775808,18446744073709551616,1e-400],"b":{}})",
             R"( [ true , false , null , "" , "\u00e9\ud83d\ude00\n\/\"\\" , {"k" : [ ] } ] )",
             R"({"x":1,"x":2,"y":{"x":3},"x":{"z":null}})",
             R"("plain")",
             "0",
             "-1.5E+3",
             "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"",
         }) {
        const auto document = ours(text);
        ASSERT_TRUE(document) << text;
        EXPECT_EQ(*document, *reference(text)) << text;
    }
    EXPECT_EQ(ours("9223372036854775808")->type(), nlohmann::json::value_t::number_unsigned);
    EXPECT_EQ(ours("-9223372036854775809")->type(), nlohmann::json::value_t::number_float);
    EXPECT_EQ(ours("123456789012345678")->get<std::int64_t>(), 123456789012345678);
    EXPECT_EQ(ours("-123456789012345678")->get<std::int64_t>(), -123456789012345678);
}

TEST(JSONTape, RefusesWhatTheStrictReferenceRefuses)
{
    for (std::string_view text : {
             "", " ", "{", "}", "[1,]", "[,1]", R"({"a":1,})", R"({"a" 1})", R"({1:2})", "01", "-", "1.", ".5", "1e",
             "+1", "[1 2]", "tru", "nul", "truex", R"("\x")", R"("\u12")", R"("\ud800")", R"("\udc00")",
             R"("\ud800\u0041")", "\"a\tb\"", "\"\x01\"", "\"\xc3\x28\"", "\"\xed\xa0\x80\"", "\"\xc0\xaf\"",
             "\"\xf4\x90\x80\x80\"", "\"abc", "1e400", "-1e400", "[1]x", "{}{}", "NaN", "Infinity", "'a'",
         }) {
        EXPECT_FALSE(ours(text)) << text;
        EXPECT_FALSE(reference(text)) << text;
    }
}

TEST(JSONTape, NestingIsLimitedWithoutRecursion)
{
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(ours(nested(JSONDecoder::maximumDepth)));
    try {
        JSONDecoder::parse(nested(JSONDecoder::maximumDepth + 1));
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_NE(error.debugDescription().find("nested too deeply"), std::string::npos);
    }
    EXPECT_FALSE(ours(std::string(1000000, '[')));
}

// Every special byte and every malformed sequence at every place of a chunk and across its end.
TEST(JSONTape, StringsAreCheckedAlikeAtEveryOffset)
{
    for (std::size_t offset = 0; offset < 40; ++offset) {
        const std::string pad(offset, 'a');
        const std::pair<std::string_view, bool> cases[] = {
            {"\"", true},  {"\\", true},     {"\n", true},           {"\x1f", true},  {"\x7f", true},
            {"\xc3\xa9", true}, {"\xe2\x82\xac", true}, {"\xf0\x9f\x98\x80", true}, {"\xc3", false},
            {"\xe2\x82", false}, {"\xff", false}, {"\x80", false}, {"\xed\xa0\x80", false},
        };
        for (const auto& [inner, valid] : cases) {
            const std::string text = pad + std::string(inner) + pad;
            std::string quoted;
            const bool written = JSONWriter::appendQuoted(quoted, text);
            EXPECT_EQ(written, valid) << offset;
            EXPECT_EQ(isValidUTF8(text), valid) << offset;
            if (written) {
                EXPECT_EQ(ours(quoted), nlohmann::json(text)) << offset;
                std::string back;
                JSONScanner scanner(quoted);
                EXPECT_TRUE(scanner.readString(&back));
                EXPECT_EQ(back, text);
            }
            // The raw bytes inside quotation marks: read only when they are plain UTF-8 text.
            const std::string raw = "\"" + text + "\"";
            EXPECT_EQ(ours(raw).has_value(), reference(raw).has_value()) << offset << " " << raw;
        }
    }
}

struct Named {
    std::string name;
    std::optional<std::int64_t> count;
    KX_RECORD(Named, name, count)
};

// A value whose coding reads a document, as codings outside the runtime may.
struct Legacy {
    bool flag = false;
};

} // namespace

namespace kx {
template <>
struct JSONCoding<Legacy> {
    static void encode(JSONWriter& writer, const Legacy& value, const CodingPathNode*) { writer.writeBool(value.flag); }
    static Legacy decode(const nlohmann::json& json, const CodingPathNode* path)
    {
        if (!json.is_boolean())
            throw DecodingError::typeMismatch(path, "Bool", "something else");
        return Legacy{json.get<bool>()};
    }
};
} // namespace kx

namespace {

struct HoldsLegacy {
    std::vector<Legacy> items;
    KX_RECORD(HoldsLegacy, items)
};

TEST(JSONTape, TypedValuesReadAsTheirDocumentsWould)
{
    const auto& decoder = ServiceValueHelper::jsonDecoder();
    // Of repeated names the last counts, also when an earlier one would not read.
    const auto named = decoder.decode<Named>(R"({"name":1,"count":2,"name":"b","count":null})");
    EXPECT_EQ(named.name, "b");
    EXPECT_FALSE(named.count);
    const auto services = decoder.decode<Discovery::Info>(R"({"services":{"b":{},"a":{"fingerprint":"1"},"b":{"fingerprint":"2"}}})");
    EXPECT_EQ(services.services.at("b").fingerprint, "2");
    EXPECT_EQ(decoder.decode<UnsafeJSON>(R"({"k":1,"k":[true]})").dictionary.at("k"), nlohmann::json::parse("[true]"));

    // A map fails at its first failing member in the order of names.
    try {
        decoder.decode<Discovery::Info>(R"({"services":{"z":{},"a":{"fingerprint":3}}})");
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.codingPath(), (std::vector<std::string>{"services", "a", "fingerprint"}));
    }

    // The tag may come last and may be written with escapes.
    using Clipboard::DataItem;
    const auto late = decoder.decode<DataItem>(R"({"string":"x","type":"text\/plain"})");
    EXPECT_EQ(std::get<DataItem::Value_textPlain>(late.value).string, "x");
    EXPECT_EQ(decoder.decode<DataItem>(R"({"type":"image\u002fsvg+xml","string":""})").value.index(), 2u);

    EXPECT_TRUE(decoder.decode<HoldsLegacy>(R"({"items":[true,false]})").items.front().flag);
    EXPECT_THROW(decoder.decode<HoldsLegacy>(R"({"items":[1]})"), DecodingError);
}

} // namespace
