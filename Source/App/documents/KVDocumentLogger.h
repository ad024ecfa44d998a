// The writer of a project's ".project.log". Lines are "[", the local time as
// "yyyy-MM-dd HH:mm:ss.SSSS", "] - ", the type in upper case, " - " and the message, each
// followed by a newline. Messages are formatted on the caller's thread and buffered; a
// background queue appends the buffer about one second after the first message of a burst,
// and at once when the logger goes. Each new logger first cuts the file to its last MiB.
// Authorization tokens never reach the file: they are hidden before buffering, and the cut pass
// hides any that an older version wrote.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "App/documents/Logger.h"

namespace kx {

class KVDocumentLogger : public Logger {
public:
    static constexpr std::size_t chunkSize = 1024;
    static constexpr std::size_t truncSize = 1'048'576;

    // Schedules the cut pass; never fails. A missing file is made by the first flush, inside
    // an existing folder only.
    explicit KVDocumentLogger(std::filesystem::path output);
    // What is still buffered is written.
    ~KVDocumentLogger() override;
    KVDocumentLogger(const KVDocumentLogger&) = delete;
    KVDocumentLogger& operator=(const KVDocumentLogger&) = delete;

    void log(const LogMessage& message) override;
    // One batch: a message whose id was in the previous batch that carried ids is dropped.
    void log(const std::vector<LogMessage>& messages);

    std::filesystem::path fileURL() const;
    // The log file's folder moved: the lines still to be written go to `output` (none: they are
    // dropped, the folder being gone).
    void moveTo(std::optional<std::filesystem::path> output);
    // Writes the buffer now and returns once everything logged so far is in the file.
    void waitUntilWritten();

    // The line with everything from the quote before the word Token of the first
    // "\"Authorization\": \"Token" (plain or JSON-escaped) replaced by "<hidden>".
    static std::string hideTokens(std::string_view line);

    struct State; // shared with the background queue

private:
    std::shared_ptr<State> state_;
};

} // namespace kx
