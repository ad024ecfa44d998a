#include "Platform/Foundation/Process.h"

#include <csignal>
#include <mutex>
#include <thread>

#include <gio/gio.h>

#include "Platform/Foundation/AlternateSignalStack.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

namespace {

// Lines longer than this are handed on in pieces rather than held without bound.
constexpr std::size_t maximumLineLength = 16 * 1024 * 1024;
// How long the end of the process waits for output still in the pipe (a grandchild may keep
// the pipe open after the child itself has gone).
constexpr std::chrono::milliseconds outputGracePeriod{250};

} // namespace

struct Process::Shared {
    GObjectRef<GSubprocess> subprocess;
    int pid = 0; // kept: GLib forgets it once the child is reaped (0 when that came first)
    GObjectRef<GOutputStream> standardInput; // main thread only
    Process* owner = nullptr;               // main thread only; null once the owner is gone
    bool outputEnded = false;
    bool exited = false;
    bool reported = false;
    TerminationReason reason = TerminationReason::exit;
    int status = 0;
    std::shared_ptr<MainQueue::Timer> grace;

    void deliver(std::vector<std::string> lines)
    {
        for (auto& line : lines) {
            if (!owner || !owner->standardOutputHandler)
                return;
            auto handler = owner->standardOutputHandler; // the handler may destroy the owner
            handler(line);
        }
    }

    void reportIfDone(bool force)
    {
        if (reported || !exited || (!outputEnded && !force))
            return;
        reported = true;
        if (grace)
            grace->cancel();
        if (owner && owner->terminationHandler) {
            auto handler = std::move(owner->terminationHandler);
            handler(reason, status);
        }
    }
};

namespace {

void readStandardOutput(GObjectRef<GInputStream> stream, std::weak_ptr<Process::Shared> weak)
{
    std::string partial;
    std::vector<char> buffer(64 * 1024);
    while (true) {
        gssize count = g_input_stream_read(stream.get(), buffer.data(), buffer.size(), nullptr, nullptr);
        if (count <= 0)
            break;
        std::vector<std::string> lines;
        partial.append(buffer.data(), static_cast<std::size_t>(count));
        std::size_t start = 0;
        for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
            std::size_t length = end - start;
            if (length > 0 && partial[end - 1] == '\r')
                --length;
            lines.emplace_back(partial, start, length);
        }
        partial.erase(0, start);
        if (partial.size() >= maximumLineLength) {
            lines.emplace_back();
            lines.back().swap(partial);
        }
        if (!lines.empty())
            MainQueue::async(ifAlive(weak, [lines = std::move(lines)](Process::Shared& shared) mutable { shared.deliver(std::move(lines)); }));
    }
    stream.reset();
    MainQueue::async(ifAlive(std::move(weak), [partial = std::move(partial)](Process::Shared& shared) mutable {
        if (!partial.empty())
            shared.deliver({std::move(partial)});
        shared.outputEnded = true;
        shared.reportIfDone(false);
    }));
}

void processEnded(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::weak_ptr<Process::Shared>> weak(static_cast<std::weak_ptr<Process::Shared>*>(data));
    auto* subprocess = G_SUBPROCESS(source);
    g_subprocess_wait_finish(subprocess, result, nullptr);
    auto shared = weak->lock();
    if (!shared)
        return;
    shared->exited = true;
    if (g_subprocess_get_if_signaled(subprocess)) {
        shared->reason = Process::TerminationReason::uncaughtSignal;
        shared->status = g_subprocess_get_term_sig(subprocess);
    } else {
        shared->reason = Process::TerminationReason::exit;
        shared->status = g_subprocess_get_if_exited(subprocess) ? g_subprocess_get_exit_status(subprocess) : -1;
    }
    if (shared->outputEnded) {
        shared->reportIfDone(false);
        return;
    }
    shared->grace = MainQueue::after(outputGracePeriod, ifAlive(shared, [](Process::Shared& later) { later.reportIfDone(true); }));
}

} // namespace

Process::Process(Configuration configuration)
    : configuration_(std::move(configuration))
    , shared_(std::make_shared<Shared>())
{
    shared_->owner = this;
}

Process::~Process()
{
    shared_->owner = nullptr;
    if (isRunning()) {
        closeStandardInput();
        g_subprocess_send_signal(shared_->subprocess.get(), SIGTERM);
    }
}

Result<Unit, Error> Process::launch()
{
    if (shared_->subprocess)
        return Result<Unit, Error>::failure(Error(Error::posixDomain, EALREADY, "The process was already launched."));
    if (configuration_.arguments.empty())
        return Result<Unit, Error>::failure(Error(Error::posixDomain, EINVAL, "No program to run."));

    // A child that goes away must not take us with it when we write to its pipe.
    static std::once_flag ignorePipeSignal;
    std::call_once(ignorePipeSignal, [] { std::signal(SIGPIPE, SIG_IGN); });

    const auto launcher = GObjectRef<GSubprocessLauncher>::adopt(
        g_subprocess_launcher_new(GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE)));
    for (const auto& [name, value] : configuration_.environment)
        g_subprocess_launcher_setenv(launcher.get(), name.c_str(), value.c_str(), TRUE);
    if (!configuration_.workingDirectory.empty())
        g_subprocess_launcher_set_cwd(launcher.get(), configuration_.workingDirectory.c_str());

    std::vector<const char*> argv;
    for (const auto& argument : configuration_.arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    GError* error = nullptr;
    GSubprocess* subprocess = g_subprocess_launcher_spawnv(launcher.get(), argv.data(), &error);
    if (!subprocess) {
        auto failure = Error::fromGError(error, "Cannot run " + configuration_.arguments.front());
        g_error_free(error);
        return Result<Unit, Error>::failure(failure);
    }
    shared_->subprocess = GObjectRef<GSubprocess>::adopt(subprocess);
    if (const char* identifier = g_subprocess_get_identifier(subprocess))
        shared_->pid = std::atoi(identifier);
    shared_->standardInput = GObjectRef<GOutputStream>::retain(g_subprocess_get_stdin_pipe(subprocess));

    auto output = GObjectRef<GInputStream>::retain(g_subprocess_get_stdout_pipe(subprocess));
    startThread([output = std::move(output), weak = std::weak_ptr<Shared>(shared_)]() mutable {
        readStandardOutput(std::move(output), std::move(weak));
    }).detach();
    g_subprocess_wait_async(subprocess, nullptr, processEnded, new std::weak_ptr<Shared>(shared_));
    return Result<Unit, Error>::success({});
}

bool Process::isRunning() const
{
    return shared_->subprocess && !shared_->exited;
}

int Process::processIdentifier() const
{
    return shared_->pid;
}

bool Process::write(std::string_view bytes)
{
    if (!shared_->standardInput)
        return false;
    return g_output_stream_write_all(shared_->standardInput.get(), bytes.data(), bytes.size(), nullptr, nullptr,
                                     nullptr);
}

void Process::closeStandardInput()
{
    if (!shared_->standardInput)
        return;
    g_output_stream_close(shared_->standardInput.get(), nullptr, nullptr);
    shared_->standardInput.reset();
}

void Process::terminate()
{
    if (isRunning())
        g_subprocess_send_signal(shared_->subprocess.get(), SIGTERM);
}

} // namespace kx
