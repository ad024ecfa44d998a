// The runtime's diagnostic lines on standard output: the owner's prefix and the items, joined by
// blanks. `error` always prints; `log` only while wantsVerboseLogging is on (it is off, and
// nothing in the application turns it on).
#pragma once

#include <atomic>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kx::ServiceDebugging {

inline std::atomic<bool> wantsVerboseLogging{false};

class Logger {
public:
    explicit Logger(std::string prefix)
        : prefix_(std::move(prefix))
    {
    }

    template <class... Items>
    void log(const Items&... items) const
    {
        if (wantsVerboseLogging.load(std::memory_order_relaxed))
            write(render(items...));
    }

    template <class... Items>
    void error(const Items&... items) const
    {
        write(render(items...));
    }

    const std::string& prefix() const { return prefix_; }

    // Text as itself, numbers in decimal, an absent value as "nil", anything with a
    // description() by that.
    template <class T>
    static std::string describe(const T& item)
    {
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
            return "nil";
        } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
            return std::string(std::string_view(item));
        } else if constexpr (std::is_same_v<T, bool>) {
            return item ? "true" : "false";
        } else if constexpr (std::is_arithmetic_v<T>) {
            return std::to_string(item);
        } else if constexpr (requires { item.has_value(); *item; }) {
            return item ? describe(*item) : std::string("nil");
        } else {
            return item.description();
        }
    }

private:
    template <class... Items>
    std::string render(const Items&... items) const
    {
        std::string line = prefix_;
        ((line += ' ', line += describe(items)), ...);
        line += '\n';
        return line;
    }
    static void write(const std::string& line);

    std::string prefix_;
};

} // namespace kx::ServiceDebugging
