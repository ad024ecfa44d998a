#include "Services/runtime/CodingErrors.h"

#include <algorithm>

namespace kx {

std::vector<std::string> CodingPathNode::materialize() const
{
    std::vector<std::string> path;
    for (const CodingPathNode* node = this; node; node = node->parent) {
        if (node->index >= 0)
            path.push_back("Index " + std::to_string(node->index));
        else
            path.emplace_back(node->key);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

namespace {

std::vector<std::string> pathOf(const CodingPathNode* node)
{
    return node ? node->materialize() : std::vector<std::string>{};
}

std::string joined(const std::vector<std::string>& path)
{
    std::string text;
    for (const auto& step : path) {
        if (!text.empty())
            text += '.';
        text += step;
    }
    return text;
}

} // namespace

DecodingError::DecodingError(Kind kind, std::vector<std::string> codingPath, std::string debugDescription)
    : kind_(kind)
    , codingPath_(std::move(codingPath))
    , debugDescription_(std::move(debugDescription))
{
    what_ = debugDescription_;
    if (!codingPath_.empty())
        what_ += " (at " + joined(codingPath_) + ")";
}

DecodingError DecodingError::keyNotFound(const CodingPathNode* path, std::string_view key)
{
    return {Kind::keyNotFound, pathOf(path), "No value associated with key \"" + std::string(key) + "\"."};
}

DecodingError DecodingError::valueNotFound(const CodingPathNode* path, std::string_view expectedType)
{
    return {Kind::valueNotFound, pathOf(path), "Expected " + std::string(expectedType) + " value but found null instead."};
}

DecodingError DecodingError::typeMismatch(const CodingPathNode* path, std::string_view expectedType,
                                          std::string_view found)
{
    return {Kind::typeMismatch, pathOf(path),
            "Expected to decode " + std::string(expectedType) + " but found " + std::string(found) + " instead."};
}

DecodingError DecodingError::dataCorrupted(const CodingPathNode* path, std::string description)
{
    return {Kind::dataCorrupted, pathOf(path), std::move(description)};
}

DecodingError DecodingError::featureUnsupported(const CodingPathNode* path)
{
    return {Kind::featureUnsupported, pathOf(path), "The operation couldn't be completed. (NSCocoaErrorDomain error 3328.)"};
}

std::int64_t DecodingError::code() const
{
    switch (kind_) {
    case Kind::featureUnsupported:
        return featureUnsupportedCode;
    case Kind::keyNotFound:
    case Kind::valueNotFound:
        return valueNotFoundCode;
    case Kind::typeMismatch:
    case Kind::dataCorrupted:
        break;
    }
    return readCorruptCode;
}

EncodingError::EncodingError(std::vector<std::string> codingPath, std::string debugDescription)
    : codingPath_(std::move(codingPath))
    , debugDescription_(std::move(debugDescription))
{
    what_ = debugDescription_;
    if (!codingPath_.empty())
        what_ += " (at " + joined(codingPath_) + ")";
}

EncodingError EncodingError::invalidValue(const CodingPathNode* path, std::string description)
{
    return {pathOf(path), std::move(description)};
}

} // namespace kx
