#include "App/preview/OrderedJSONCoding.h"

#include <cmath>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Services/runtime/JSONDecoder.h"

namespace kx {

namespace ordered_json_detail {

namespace {

// As the service codec names what it found.
std::string_view describeKind(const OrderedJSON& json)
{
    switch (json.type()) {
    case OrderedJSON::value_t::null: return "null";
    case OrderedJSON::value_t::boolean: return "bool";
    case OrderedJSON::value_t::number_integer:
    case OrderedJSON::value_t::number_unsigned:
    case OrderedJSON::value_t::number_float: return "number";
    case OrderedJSON::value_t::string: return "a string";
    case OrderedJSON::value_t::array: return "an array";
    case OrderedJSON::value_t::object: return "a dictionary";
    default: return "an unsupported value";
    }
}

} // namespace

void throwMismatchOrNull(const OrderedJSON& json, const CodingPathNode* path, std::string_view expected)
{
    if (json.is_null())
        throw DecodingError::valueNotFound(path, expected);
    throw DecodingError::typeMismatch(path, expected, describeKind(json));
}

} // namespace ordered_json_detail

namespace {

// Builds an ordered document in time linear in its size. The library's own reader looks each
// new member name up by a walk through the members before it, which makes a page's catalogue of
// many devices take minutes; here an index of the names of each open object does it. Of
// repeated names the last value counts, at the place of the first.
class OrderedBuilder final : public nlohmann::json_sax<OrderedJSON> {
public:
    OrderedJSON root;

    bool null() override { return put(nullptr) != nullptr; }
    bool boolean(bool value) override { return put(value) != nullptr; }
    bool number_integer(number_integer_t value) override { return put(value) != nullptr; }
    bool number_unsigned(number_unsigned_t value) override { return put(value) != nullptr; }
    bool number_float(number_float_t value, const string_t&) override { return put(value) != nullptr; }
    bool string(string_t& value) override { return put(std::move(value)) != nullptr; }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override
    {
        OrderedJSON* object = put(OrderedJSON::object());
        open_.push_back({object, {}});
        return object != nullptr;
    }
    bool key(string_t& name) override
    {
        key_ = std::move(name);
        return true;
    }
    bool end_object() override
    {
        open_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        OrderedJSON* array = put(OrderedJSON::array());
        open_.push_back({array, {}});
        return array != nullptr;
    }
    bool end_array() override
    {
        open_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    struct Open {
        OrderedJSON* value;
        std::unordered_map<std::string, std::size_t> names;
    };

    // The new value's place: the document, the end of the open array, or the open object's
    // member of the last name read. Places of values still open never move: only the innermost
    // open value grows.
    OrderedJSON* put(OrderedJSON&& value)
    {
        if (open_.empty()) {
            root = std::move(value);
            return &root;
        }
        Open& parent = open_.back();
        if (parent.value->is_array()) {
            auto& array = parent.value->get_ref<OrderedJSON::array_t&>();
            array.push_back(std::move(value));
            return &array.back();
        }
        auto& members = static_cast<std::vector<std::pair<const std::string, OrderedJSON>>&>(
            parent.value->get_ref<OrderedJSON::object_t&>());
        const auto [found, isNew] = parent.names.try_emplace(key_, members.size());
        if (!isNew) {
            members[found->second].second = std::move(value);
            return &members[found->second].second;
        }
        members.emplace_back(std::move(key_), std::move(value));
        return &members.back().second;
    }

    std::vector<Open> open_;
    std::string key_;
};

} // namespace

OrderedJSON OrderedJSONDecoder::parse(std::string_view text)
{
    // The service layer's reader decides what is JSON (strict UTF-8, no overflow, a bounded
    // depth); only text it accepted is read again, for its order.
    JSONDecoder::parse(text);
    OrderedBuilder builder;
    try {
        if (OrderedJSON::sax_parse(text, &builder))
            return std::move(builder.root);
    } catch (const OrderedJSON::exception&) {
    }
    throw DecodingError::dataCorrupted(nullptr, "The given data was not valid JSON.");
}

std::string OrderedJSONCoding<std::string>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    if (!json.is_string())
        ordered_json_detail::throwMismatchOrNull(json, path, "String");
    return json.get_ref<const std::string&>();
}

bool OrderedJSONCoding<bool>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    if (!json.is_boolean())
        ordered_json_detail::throwMismatchOrNull(json, path, "Bool");
    return json.get<bool>();
}

std::int64_t OrderedJSONCoding<std::int64_t>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    constexpr double twoToThe63 = 9223372036854775808.0;
    const auto notAnInteger = [&] {
        return DecodingError::dataCorrupted(path, "Parsed JSON number <" + json.dump() + "> does not fit in Int64.");
    };
    switch (json.type()) {
    case OrderedJSON::value_t::number_integer:
        return json.get<std::int64_t>();
    case OrderedJSON::value_t::number_unsigned: {
        const auto value = json.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(INT64_MAX))
            throw notAnInteger();
        return static_cast<std::int64_t>(value);
    }
    case OrderedJSON::value_t::number_float: {
        const double value = json.get<double>();
        if (!(value >= -twoToThe63 && value < twoToThe63) || std::trunc(value) != value)
            throw notAnInteger();
        return static_cast<std::int64_t>(value);
    }
    default:
        ordered_json_detail::throwMismatchOrNull(json, path, "Int64");
    }
}

double OrderedJSONCoding<double>::decode(const OrderedJSON& json, const CodingPathNode* path)
{
    switch (json.type()) {
    case OrderedJSON::value_t::number_integer:
        return static_cast<double>(json.get<std::int64_t>());
    case OrderedJSON::value_t::number_unsigned:
        return static_cast<double>(json.get<std::uint64_t>());
    case OrderedJSON::value_t::number_float:
        return json.get<double>();
    default:
        ordered_json_detail::throwMismatchOrNull(json, path, "Double");
    }
}

} // namespace kx
