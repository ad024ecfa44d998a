// Where a call stands in the source: the default argument of the waits and helpers, so that a
// failure names the test's line rather than the helper's. kxtest::SourceLocation does the same,
// but clang before 15 cannot compile libstdc++'s, and the clang build must hold.
#pragma once

namespace kxtest {

class SourceLocation {
public:
    // Nowhere: no file, line 0.
    constexpr SourceLocation() noexcept = default;
    // The caller's file and line when it stands in a default argument.
    static constexpr SourceLocation current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE()) noexcept
    {
        return SourceLocation(file, line);
    }

    constexpr const char* file_name() const noexcept { return file_; }
    constexpr unsigned line() const noexcept { return line_; }

private:
    constexpr SourceLocation(const char* file, unsigned line) noexcept : file_(file), line_(line) {}

    const char* file_ = "";
    unsigned line_ = 0;
};

} // namespace kxtest
