#include "App/exchange/ClipboardItemCoding.h"

#include "Services/runtime/JSONDecoder.h"
#include "Services/runtime/JSONEncoder.h"
#include "Services/runtime/JSONWriter.h"
#include "Services/runtime/RawEnum.h"

namespace kx::ClipboardItemCoding {

namespace {

using Item = Clipboard::DataItem;

template <class Case>
Item textItem(std::string_view bytes)
{
    return Item{Case{std::string(bytes)}};
}

template <class Case>
std::optional<Item> objectItem(std::string_view bytes)
{
    try {
        return Item{Case{JSONDecoder().decode<UnsafeJSON>(bytes)}};
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

} // namespace

Type typeOf(const Clipboard::DataItem& item)
{
    // The cases stand in the order of the type's raw values.
    return allCases<Type>()[item.value.index()];
}

std::string_view targetName(Type type)
{
    return rawValue(type);
}

std::optional<Type> typeForTarget(std::string_view target)
{
    return enumFromRawValue<Type>(target);
}

std::optional<std::string> encode(const Clipboard::DataItem& item)
{
    return std::visit(
        [](const auto& value) -> std::optional<std::string> {
            if constexpr (requires { value.string; }) {
                if (!isValidUTF8(value.string))
                    return std::nullopt;
                return value.string;
            } else {
                try {
                    return JSONEncoder().encode(value.data);
                } catch (const EncodingError&) {
                    return std::nullopt;
                }
            }
        },
        item.value);
}

std::optional<Clipboard::DataItem> decode(Type type, std::string_view bytes)
{
    if (bytes.size() > maximumItemSize || !isValidUTF8(bytes))
        return std::nullopt;
    switch (type) {
    case Type::textPlain:
        return textItem<Item::Value_textPlain>(bytes);
    case Type::textCss:
        return textItem<Item::Value_textCss>(bytes);
    case Type::imageSvgXml:
        return textItem<Item::Value_imageSvgXml>(bytes);
    case Type::applicationXKorvelStyle:
        return objectItem<Item::Value_applicationXKorvelStyle>(bytes);
    case Type::applicationXKorvelLayers:
        return objectItem<Item::Value_applicationXKorvelLayers>(bytes);
    case Type::applicationXKorvelSketch:
        return objectItem<Item::Value_applicationXKorvelSketch>(bytes);
    }
    return std::nullopt;
}

} // namespace kx::ClipboardItemCoding
