// The clipboard service: the page writes items to the system pasteboard and reads them back
// through native code. Items are a tagged union whose tag is a MIME type.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/runtime/UnsafeJSON.h"

namespace kx::Clipboard {

struct DataItem {
    enum class TypeEnum { textPlain, textCss, imageSvgXml, applicationXKorvelStyle, applicationXKorvelLayers, applicationXKorvelSketch };
    friend constexpr auto describeRawEnum(TypeEnum)
    {
        using P = std::pair<TypeEnum, std::string_view>;
        return makeRawEnumDescription<TypeEnum>("TypeEnum", std::array{
            P{TypeEnum::textPlain, "text/plain"},
            P{TypeEnum::textCss, "text/css"},
            P{TypeEnum::imageSvgXml, "image/svg+xml"},
            P{TypeEnum::applicationXKorvelStyle, "application/x-korvel-style"},
            P{TypeEnum::applicationXKorvelLayers, "application/x-korvel-layers"},
            P{TypeEnum::applicationXKorvelSketch, "application/x-korvel-sketch"},
        });
    }

    struct Value_textPlain {
        std::string string;
        KX_CASE(Value_textPlain, "text/plain", string)
    };
    struct Value_textCss {
        std::string string;
        KX_CASE(Value_textCss, "text/css", string)
    };
    struct Value_imageSvgXml {
        std::string string;
        KX_CASE(Value_imageSvgXml, "image/svg+xml", string)
    };
    struct Value_applicationXKorvelStyle {
        UnsafeJSON data;
        KX_CASE(Value_applicationXKorvelStyle, "application/x-korvel-style", data)
    };
    struct Value_applicationXKorvelLayers {
        UnsafeJSON data;
        KX_CASE(Value_applicationXKorvelLayers, "application/x-korvel-layers", data)
    };
    struct Value_applicationXKorvelSketch {
        UnsafeJSON data;
        KX_CASE(Value_applicationXKorvelSketch, "application/x-korvel-sketch", data)
    };

    static constexpr std::string_view tagKey = "type";
    std::variant<Value_textPlain, Value_textCss, Value_imageSvgXml, Value_applicationXKorvelStyle,
                 Value_applicationXKorvelLayers, Value_applicationXKorvelSketch>
        value;
};

struct Write {
    std::vector<DataItem> items;
    KX_RECORD(Write, items)
};

struct ReadOptions {
    std::vector<DataItem::TypeEnum> types;
    KX_RECORD(ReadOptions, types)
};

struct Read {
    std::vector<DataItem> items;
    KX_RECORD(Read, items)
};

// write clears the pasteboard and puts the items on it; read answers the items found on it, of
// the given types when options are given.
#define KX_Clipboard_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)                                       \
    WITH_ARGUMENT(write, Write, Unit)                                                               \
    WITH_ARGUMENT(read, std::optional<ReadOptions>, Read)

KX_SERVICE_INTERFACE(KX_Clipboard_METHODS)

} // namespace kx::Clipboard
