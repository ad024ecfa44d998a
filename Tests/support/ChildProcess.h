// Other processes that tests start (the test helper, forked children), waited for with a
// deadline: a child that hangs fails its test, named, instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/SourceLocation.h"

namespace kxtest {

// Waits until the child `pid` of this process ends; its wait status. A child still running at
// the deadline is killed (SIGKILL), and the test fails naming it.
int waitForChild(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(60),
                 kxtest::SourceLocation where = kxtest::SourceLocation::current());

// A program started with pipes to its standard input and output (with `errorsToo`, its error
// output goes to the same pipe). It is killed and reaped when the object goes, if it has not
// ended by then.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> arguments, bool errorsToo = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The next line it prints, without its newline; nullopt at the end of its output, or when no
    // whole line came within `timeout` (the test then fails, naming the wait).
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(30),
                                        kxtest::SourceLocation where = kxtest::SourceLocation::current());
    // Everything it prints until it closes its output (or until `timeout`, which fails the test).
    std::string readAll(std::chrono::milliseconds timeout = std::chrono::seconds(60),
                        kxtest::SourceLocation where = kxtest::SourceLocation::current());
    // Closes its standard input: the helper's sign to let go and end.
    void closeInput();
    // Closes its standard input and waits for it to end (see waitForChild); its exit status, -1
    // when it did not exit by itself.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60),
                    kxtest::SourceLocation where = kxtest::SourceLocation::current());

private:
    // Reads what is there within the deadline into buffered_; false at the end or the deadline.
    bool fill(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffered_;
};

// Another program (found on the PATH), run while the main loop turns: it may need this process
// to answer it meanwhile (the clipboard, a server on the main loop). Its standard output is
// kept, its error output dropped. It is killed when the object goes, if it has not ended by then.
// Tests run other programs through this (or runProgram) only: nothing else bounds their wait.
class Program {
public:
    explicit Program(std::vector<std::string> arguments, std::optional<std::string> input = std::nullopt,
                     kxtest::SourceLocation where = kxtest::SourceLocation::current());
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Waits until it ends; false when it did not start, or at the deadline (the test then fails
    // naming the program and `where`, and the program is killed).
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(60),
              kxtest::SourceLocation where = kxtest::SourceLocation::current());
    bool ended() const;
    // Its exit status; -1 while it runs, when it did not start or did not exit by itself.
    int status() const;
    // What it printed, once it ended.
    const std::string& output() const;

    struct State;

private:
    std::string name_;
    std::shared_ptr<State> state_;
};

struct ProgramResult {
    int status = -1; // see Program::status
    std::string output;
};

// Runs a program to its end (see Program); at the deadline it is killed and the test fails.
ProgramResult runProgram(std::vector<std::string> arguments, std::optional<std::string> input = std::nullopt,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         kxtest::SourceLocation where = kxtest::SourceLocation::current());

} // namespace kxtest
