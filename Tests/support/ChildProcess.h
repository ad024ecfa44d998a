// Other processes that tests start (the test helper, forked children), waited for with a
// deadline: a child that hangs fails its test, named, instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

namespace kxtest {

// Waits until the child `pid` of this process ends; its wait status. A child still running at
// the deadline is killed (SIGKILL), and the test fails naming it.
int waitForChild(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(60),
                 std::source_location where = std::source_location::current());

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
                                        std::source_location where = std::source_location::current());
    // Everything it prints until it closes its output (or until `timeout`, which fails the test).
    std::string readAll(std::chrono::milliseconds timeout = std::chrono::seconds(60),
                        std::source_location where = std::source_location::current());
    // Closes its standard input: the helper's sign to let go and end.
    void closeInput();
    // Closes its standard input and waits for it to end (see waitForChild); its exit status, -1
    // when it did not exit by itself.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60),
                    std::source_location where = std::source_location::current());

private:
    // Reads what is there within the deadline into buffered_; false at the end or the deadline.
    bool fill(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffered_;
};

} // namespace kxtest
