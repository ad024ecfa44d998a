#include "Platform/Foundation/DateFormat.h"

#include <cstdio>
#include <ctime>
#include <vector>

namespace kx::DateFormat {

namespace {

// A pattern is a run of one letter (a field of that many digits) or literal text.
struct Token {
    char field = 0; // 0 for literal text
    size_t width = 0;
    std::string literal;
};

std::vector<Token> tokenize(std::string_view pattern)
{
    std::vector<Token> tokens;
    for (size_t i = 0; i < pattern.size();) {
        char c = pattern[i];
        if (c == '\'') {
            size_t end = pattern.find('\'', i + 1);
            if (end == std::string_view::npos)
                end = pattern.size();
            tokens.push_back({0, 0, std::string(pattern.substr(i + 1, end - i - 1))});
            i = end + 1;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            size_t j = i;
            while (j < pattern.size() && pattern[j] == c)
                ++j;
            tokens.push_back({c, j - i, {}});
            i = j;
        } else {
            tokens.push_back({0, 0, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

std::int64_t pow10(size_t n)
{
    std::int64_t value = 1;
    while (n--)
        value *= 10;
    return value;
}

} // namespace

std::string format(Clock::time_point time, std::string_view pattern, Zone zone)
{
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto micros = duration_cast<microseconds>(sinceEpoch - secs).count();
    if (micros < 0) { // times before 1970: fractions count up from the earlier second
        secs -= seconds(1);
        micros += 1'000'000;
    }
    std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    if (zone == Zone::utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);

    std::string out;
    char buffer[32];
    for (const Token& token : tokenize(pattern)) {
        long long value;
        switch (token.field) {
        case 0: out += token.literal; continue;
        case 'y': value = tm.tm_year + 1900LL; break;
        case 'M': value = tm.tm_mon + 1; break;
        case 'd': value = tm.tm_mday; break;
        case 'H': value = tm.tm_hour; break;
        case 'm': value = tm.tm_min; break;
        case 's': value = tm.tm_sec; break;
        case 'S': {
            // Fractions are truncated, as a clock shows them.
            const size_t digits = std::min<size_t>(token.width, 6);
            value = micros / pow10(6 - digits);
            std::snprintf(buffer, sizeof buffer, "%0*lld", static_cast<int>(digits), value);
            out += buffer;
            out.append(token.width - digits, '0');
            continue;
        }
        default: out.append(token.width, token.field); continue;
        }
        if (token.field == 'y' && token.width == 2)
            value %= 100;
        std::snprintf(buffer, sizeof buffer, "%0*lld", static_cast<int>(token.width), value);
        out += buffer;
    }
    return out;
}

std::optional<Clock::time_point> parse(std::string_view text, std::string_view pattern, Zone zone)
{
    std::tm tm{};
    tm.tm_mday = 1;
    std::int64_t micros = 0;
    size_t pos = 0;
    for (const Token& token : tokenize(pattern)) {
        if (token.field == 0) {
            if (text.substr(pos, token.literal.size()) != token.literal)
                return std::nullopt;
            pos += token.literal.size();
            continue;
        }
        if (pos + token.width > text.size())
            return std::nullopt;
        std::int64_t value = 0;
        for (size_t i = 0; i < token.width; ++i) {
            char c = text[pos + i];
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + (c - '0');
        }
        pos += token.width;
        switch (token.field) {
        case 'y': tm.tm_year = static_cast<int>(value) - 1900; break;
        case 'M':
            if (value < 1 || value > 12)
                return std::nullopt;
            tm.tm_mon = static_cast<int>(value) - 1;
            break;
        case 'd':
            if (value < 1 || value > 31)
                return std::nullopt;
            tm.tm_mday = static_cast<int>(value);
            break;
        case 'H':
            if (value > 23)
                return std::nullopt;
            tm.tm_hour = static_cast<int>(value);
            break;
        case 'm':
            if (value > 59)
                return std::nullopt;
            tm.tm_min = static_cast<int>(value);
            break;
        case 's':
            if (value > 60)
                return std::nullopt;
            tm.tm_sec = static_cast<int>(value);
            break;
        case 'S':
            micros = token.width <= 6 ? value * pow10(6 - token.width) : value / pow10(token.width - 6);
            break;
        default: return std::nullopt;
        }
    }
    if (pos != text.size())
        return std::nullopt;
    std::time_t t;
    if (zone == Zone::utc) {
        t = timegm(&tm);
    } else {
        tm.tm_isdst = -1;
        t = mktime(&tm);
    }
    return Clock::time_point(std::chrono::seconds(t)) + std::chrono::microseconds(micros);
}

} // namespace kx::DateFormat
