// A child process with pipes (over GSubprocess). Standard output arrives line by line on the
// main thread, read by a thread of its own; standard input is a pipe the owner writes to and
// closes; the end of the process is reported once, on the main thread, after the last line.
// A Process owns its child: destroying it ends the child and calls no handler any more.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class Process {
public:
    enum class TerminationReason { exit, uncaughtSignal };

    struct Configuration {
        std::vector<std::string> arguments; // arguments[0] is the program (looked up in PATH)
        // Set on top of the inherited environment.
        std::map<std::string, std::string> environment;
        std::filesystem::path workingDirectory; // empty: the current one
    };

    explicit Process(Configuration configuration);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Each line of standard output without its line end, on the main thread.
    std::function<void(const std::string& line)> standardOutputHandler;
    // Once, on the main thread: the exit status, or the signal that ended the process.
    std::function<void(TerminationReason reason, int status)> terminationHandler;

    // Starts the child; main thread only, once.
    Result<Unit, Error> launch();

    bool isRunning() const;
    int processIdentifier() const; // 0 before launch

    // Writes to the child's standard input; false when the pipe is closed or the write failed.
    bool write(std::string_view bytes);
    void closeStandardInput();
    // Asks the child to end (SIGTERM).
    void terminate();

    struct Shared; // state shared with the reader thread and the main-loop callbacks

private:
    Configuration configuration_;
    std::shared_ptr<Shared> shared_;
};

} // namespace kx
