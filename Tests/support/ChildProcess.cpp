#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"
#include "support/Spin.h"

namespace kxtest {

int waitForChild(pid_t pid, std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    const WaitScope wait("the end of process " + std::to_string(pid), timeout, where);
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return status;
        if (ended < 0 && errno != EINTR) {
            ADD_FAILURE_AT(where.file_name(), int(where.line())) << "process " << pid << " is no child to wait for";
            return -1;
        }
        if (wait.expired()) {
            ADD_FAILURE_AT(where.file_name(), int(where.line()))
                << "process " << pid << " did not end within " << timeout.count() << " ms; killed";
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

ChildProcess::ChildProcess(std::vector<std::string> arguments, bool errorsToo)
{
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    GError* error = nullptr;
    gint in = -1, out = -1;
    GPid pid = -1;
    // Runs in the child, between fork and exec.
    const GSpawnChildSetupFunc errorsToOutput = [](gpointer) { ::dup2(1, 2); };
    if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, errorsToo ? errorsToOutput : nullptr,
                                  nullptr, &pid, &in, &out, nullptr, &error)) {
        ADD_FAILURE() << "cannot start " << (arguments.empty() ? "" : arguments[0]) << ": " << (error ? error->message : "");
        g_clear_error(&error);
        return;
    }
    pid_ = pid;
    in_ = in;
    out_ = out;
}

ChildProcess::~ChildProcess()
{
    closeInput();
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (out_ >= 0)
        ::close(out_);
}

bool ChildProcess::fill(std::chrono::steady_clock::time_point deadline)
{
    if (out_ < 0)
        return false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd ready{out_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(std::min<long long>(left.count(), 1000)));
        if (polled < 0 && errno != EINTR)
            return false;
        if (polled <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(out_);
            out_ = -1;
            return false;
        }
        buffered_.append(buffer, std::size_t(n));
        return true;
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    const WaitScope wait("a line from process " + std::to_string(pid_), timeout, where);
    for (;;) {
        if (const auto newline = buffered_.find('\n'); newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        if (!fill(wait.deadline())) {
            if (out_ >= 0)
                ADD_FAILURE_AT(where.file_name(), int(where.line()))
                    << "no line from process " << pid_ << " within " << timeout.count() << " ms";
            return std::nullopt;
        }
    }
}

std::string ChildProcess::readAll(std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    const WaitScope wait("the output of process " + std::to_string(pid_), timeout, where);
    while (fill(wait.deadline())) {
    }
    if (out_ >= 0)
        ADD_FAILURE_AT(where.file_name(), int(where.line()))
            << "process " << pid_ << " did not close its output within " << timeout.count() << " ms";
    return std::exchange(buffered_, {});
}

void ChildProcess::closeInput()
{
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
}

int ChildProcess::waitForExit(std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    closeInput();
    if (pid_ <= 0)
        return -1;
    const int status = waitForChild(pid_, timeout, where);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Program::State {
    kx::GObjectRef<GSubprocess> process;
    bool ended = false;
    int status = -1;
    std::string output;
};

Program::Program(std::vector<std::string> arguments, std::optional<std::string> input, kxtest::SourceLocation where)
    : name_(arguments.empty() ? "" : arguments.front())
    , state_(std::make_shared<State>())
{
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    state_->process = kx::GObjectRef<GSubprocess>::adopt(g_subprocess_newv(
        argv.data(), GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE),
        &error));
    if (!state_->process) {
        ADD_FAILURE_AT(where.file_name(), int(where.line())) << "cannot start " << name_ << ": " << (error ? error->message : "");
        g_clear_error(&error);
        return;
    }
    // Its output first, then its end (the output may close before it ends). The state is the
    // callbacks' as well: they may come after this object went.
    GBytes* bytes = g_bytes_new(input ? input->data() : "", input ? input->size() : 0);
    g_subprocess_communicate_async(
        state_->process.get(), bytes, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GBytes* out = nullptr;
            if (g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &out, nullptr, nullptr) && out) {
                gsize size = 0;
                const auto* text = static_cast<const char*>(g_bytes_get_data(out, &size));
                static_cast<std::shared_ptr<State>*>(data)->get()->output.assign(text ? text : "", size);
            }
            if (out)
                g_bytes_unref(out);
            g_subprocess_wait_async(
                G_SUBPROCESS(source), nullptr,
                [](GObject* source, GAsyncResult* result, gpointer data) {
                    std::unique_ptr<std::shared_ptr<State>> state(static_cast<std::shared_ptr<State>*>(data));
                    GSubprocess* process = G_SUBPROCESS(source);
                    if (g_subprocess_wait_finish(process, result, nullptr))
                        (*state)->status = g_subprocess_get_if_exited(process) ? g_subprocess_get_exit_status(process) : -1;
                    (*state)->ended = true;
                },
                data);
        },
        new std::shared_ptr<State>(state_));
    g_bytes_unref(bytes);
}

Program::~Program()
{
    if (state_->process && !state_->ended) {
        g_subprocess_force_exit(state_->process.get());
        // As in wait(): cut short by a wait around this one, it is that wait that failed.
        const auto start = std::chrono::steady_clock::now();
        const auto limit = std::chrono::seconds(5);
        if (!spinUntil([&] { return state_->ended; }, limit) && std::chrono::steady_clock::now() - start >= limit)
            ADD_FAILURE() << name_ << " outlived its kill";
    }
}

bool Program::wait(std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    if (!state_->process)
        return false;
    const auto start = std::chrono::steady_clock::now();
    if (spinUntil([&] { return state_->ended; }, timeout, where))
        return true;
    // Cut short by the deadline of a wait around this one, it is that wait that failed, and
    // says so; only a program that outlived its own time-out is a failure here.
    if (std::chrono::steady_clock::now() - start >= timeout)
        ADD_FAILURE_AT(where.file_name(), int(where.line())) << name_ << " did not end within " << timeout.count() << " ms; killed";
    g_subprocess_force_exit(state_->process.get());
    return false;
}

bool Program::ended() const
{
    return state_->ended;
}

int Program::status() const
{
    return state_->ended ? state_->status : -1;
}

const std::string& Program::output() const
{
    return state_->output;
}

ProgramResult runProgram(std::vector<std::string> arguments, std::optional<std::string> input, std::chrono::milliseconds timeout,
                         kxtest::SourceLocation where)
{
    Program program(std::move(arguments), std::move(input), where);
    if (!program.wait(timeout, where))
        return {};
    return {program.status(), program.output()};
}

} // namespace kxtest
