// What this process prints to standard output while a test looks (the service log writes
// there). The capture ends in every case: also when an assertion leaves the test early, so
// that its failure is printed and the next capture of the program can start.
#pragma once

#include <optional>
#include <string>

namespace kxtest {

class StdoutCapture {
public:
    StdoutCapture();
    // Ends a capture that was not taken: what it held is printed after all, to tell the failure.
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Ends the capture (at the first call) and gives what was printed meanwhile.
    const std::string& text();

private:
    std::optional<std::string> text_;
};

} // namespace kxtest
