#include "support/ScopedSetting.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace kxtest {

ScopedSetting::ScopedSetting(const char* variable, const char* value)
{
    std::optional<std::string> old;
    if (const char* current = std::getenv(variable))
        old = current;
    reset_ = [name = std::string(variable), old = std::move(old)] {
        old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str());
    };
    value ? ::setenv(variable, value, 1) : ::unsetenv(variable);
}

} // namespace kxtest
