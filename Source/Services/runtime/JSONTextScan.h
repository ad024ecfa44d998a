// The inner loops of the JSON reader and writer, sixteen bytes at a time where the processor
// allows (SSE2 is part of every x86-64): finding the next byte of a string that needs a look
// (a quotation mark, a backslash, a control character or the start of a multi-byte sequence)
// and checking UTF-8. Plain ASCII text, the bulk of every body, passes at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx::json_text {

inline bool needsLook(unsigned char c)
{
    return c == '"' || c == '\\' || c < 0x20 || c >= 0x80;
}

// The first byte in [p, end) that is '"', '\\', below 0x20 or above 0x7F; end when there is none.
inline const char* findSpecial(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // As signed bytes, control characters and every byte above 0x7F are below 0x20.
        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)),
                                             _mm_cmplt_epi8(chunk, space));
        if (const int mask = _mm_movemask_epi8(special))
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && !needsLook(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

// The first byte in [p, end) above 0x7F; end when there is none.
inline const char* findNonASCII(const char* p, const char* end)
{
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (const int mask = _mm_movemask_epi8(chunk))
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    return p;
}

// Length of the well-formed UTF-8 sequence of a lead byte above 0x7F at p, or 0 (overlong
// forms, surrogates, code points above U+10FFFF, stray continuation bytes, a cut sequence).
inline std::size_t sequenceLength(const char* p, const char* end)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(p[k]); };
    const auto continuation = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
    const unsigned char c = byte(0);
    const std::size_t left = static_cast<std::size_t>(end - p);
    if (c >= 0xC2 && c <= 0xDF)
        return left >= 2 && continuation(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !continuation(1) || !continuation(2))
            return 0;
        const unsigned char c1 = byte(1);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        const unsigned char c1 = byte(1);
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
            return 0;
        return 4;
    }
    return 0;
}

// Checks the run of multi-byte sequences starting at p (a byte above 0x7F) and returns the
// first byte after it that is ASCII, or nullptr when a sequence is malformed.
inline const char* skipNonASCII(const char* p, const char* end)
{
    while (p < end && static_cast<unsigned char>(*p) >= 0x80) {
        const std::size_t n = sequenceLength(p, end);
        if (!n)
            return nullptr;
        p += n;
    }
    return p;
}

} // namespace kx::json_text
