#include "App/shell/StringExtras.h"

#include <glib.h>
#include <openssl/evp.h>

#include "Platform/Foundation/Text.h"

namespace kx {

namespace {

std::string md5Hex(std::string_view bytes, LetterCase letters)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // The whole length goes to the digest: a 32-bit count would silently hash only a prefix of
    // very large texts.
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16)
        g_error("MD5 is not available from libcrypto"); // cache keys without it would collide
    return hexString(std::span(digest, length), letters);
}

// Bytes of the UTF-8 sequence that starts with `lead` (valid text assumed).
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

} // namespace

std::string MD5String(std::string_view text)
{
    return md5Hex(text.substr(0, text.find('\0')), LetterCase::upper);
}

std::string md5String(std::string_view text)
{
    return md5Hex(text, LetterCase::lower);
}

std::optional<std::string> utf16substring(std::string_view text, std::int64_t atCharacter, std::int64_t length)
{
    if (atCharacter < 0 || length < 0 || length > INT64_MAX - atCharacter)
        return std::nullopt;
    if (!g_utf8_validate_len(text.data(), text.size(), nullptr))
        return std::nullopt;

    const std::int64_t end = atCharacter + length;
    std::optional<std::size_t> startByte, endByte;
    std::int64_t units = 0;
    std::size_t byte = 0;
    while (byte < text.size()) {
        const int bytes = sequenceLength(static_cast<unsigned char>(text[byte]));
        const int width = bytes == 4 ? 2 : 1; // characters beyond the BMP take a surrogate pair
        if (units == atCharacter)
            startByte = byte;
        if (units == end)
            endByte = byte;
        if (width == 2 && (atCharacter == units + 1 || end == units + 1))
            return std::nullopt; // between the halves of a pair
        units += width;
        byte += static_cast<std::size_t>(bytes);
        if (units > end)
            break; // both ends found
    }
    if (atCharacter == units)
        startByte = text.size();
    if (end == units)
        endByte = text.size();
    if (!startByte || !endByte)
        return std::nullopt;
    return std::string(text.substr(*startByte, *endByte - *startByte));
}

} // namespace kx
