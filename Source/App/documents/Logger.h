// The project log's protocol: one operation that takes one message. Every working container
// holds one and writes its own steps and the project server's error records through it.
#pragma once

#include <optional>
#include <string>

namespace kx {

struct LogMessage {
    std::string content;
    std::string type; // "info", "debug", ...; written in upper case
    // Messages with an id take part in the logger's repeat filter.
    std::optional<std::string> id;
};

class Logger {
public:
    virtual ~Logger() = default;
    // Callable from any thread; never waits for the disk and never fails.
    virtual void log(const LogMessage& message) = 0;
};

} // namespace kx
