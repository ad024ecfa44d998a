// The failures of the JSON codec. Decoding failures name the coding path of the failing value
// and one of the decoder's kinds; an unknown tag of a tagged union is the "NSCocoaErrorDomain"
// "feature unsupported" (3328), which pages and peers know by that code.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// One step of a coding path, kept on the stack while decoding; turned into text only when a
// failure is reported.
struct CodingPathNode {
    const CodingPathNode* parent = nullptr;
    std::string_view key;    // member name; empty for a list position
    std::int64_t index = -1; // list position, or -1

    std::vector<std::string> materialize() const;
};

class DecodingError : public std::exception {
public:
    enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted, featureUnsupported };

    static constexpr const char* cocoaErrorDomain = "NSCocoaErrorDomain";
    static constexpr std::int64_t featureUnsupportedCode = 3328;
    static constexpr std::int64_t readCorruptCode = 4864;
    static constexpr std::int64_t valueNotFoundCode = 4865;

    DecodingError(Kind kind, std::vector<std::string> codingPath, std::string debugDescription);

    static DecodingError keyNotFound(const CodingPathNode* path, std::string_view key);
    static DecodingError valueNotFound(const CodingPathNode* path, std::string_view expectedType);
    static DecodingError typeMismatch(const CodingPathNode* path, std::string_view expectedType,
                                      std::string_view found);
    static DecodingError dataCorrupted(const CodingPathNode* path, std::string description);
    static DecodingError featureUnsupported(const CodingPathNode* path);

    Kind kind() const { return kind_; }
    const std::vector<std::string>& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    std::string domain() const { return cocoaErrorDomain; }
    std::int64_t code() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    Kind kind_;
    std::vector<std::string> codingPath_;
    std::string debugDescription_;
    std::string what_;
};

class EncodingError : public std::exception {
public:
    EncodingError(std::vector<std::string> codingPath, std::string debugDescription);
    static EncodingError invalidValue(const CodingPathNode* path, std::string description);

    const std::vector<std::string>& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::vector<std::string> codingPath_;
    std::string debugDescription_;
    std::string what_;
};

} // namespace kx
