#include "support/LogCapture.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include <glib.h>

#include "App/shell/RKLog.h"

namespace kxtest {

LogCapture::LogCapture()
    : writer_(kx::RKLogSetWriterForTesting, [this](GLogLevelFlags, std::span<const GLogField> fields) {
        for (const GLogField& field : fields) {
            if (std::string_view(field.key) != "MESSAGE" || !field.value)
                continue;
            const auto* text = static_cast<const char*>(field.value);
            std::lock_guard lock(mutex_);
            lines_.emplace_back(text, field.length < 0 ? std::strlen(text) : std::size_t(field.length));
        }
    })
{
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> LogCapture::take()
{
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
}

bool LogCapture::contains(std::string_view text) const
{
    std::lock_guard lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

} // namespace kxtest
