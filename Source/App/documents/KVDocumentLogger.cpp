#include "App/documents/KVDocumentLogger.h"

#include <cerrno>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Platform/Foundation/AlternateSignalStack.h"
#include "Platform/Foundation/DateFormat.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/IfAlive.h"
#include "Services/runtime/JSONWriter.h"

namespace kx {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

// One background thread for every project log: appends and cut passes in order, some after a
// delay. A forked child gets a thread of its own when it first logs.
class LogQueue {
public:
    static LogQueue& shared()
    {
        static LogQueue queue;
        return queue;
    }

    void after(std::chrono::milliseconds delay, std::function<void()> task)
    {
        std::lock_guard lock(mutex_);
        startIfNeeded();
        tasks_.emplace(std::make_pair(SteadyClock::now() + delay, next_++), std::move(task));
        wake_.notify_one();
    }

    // Blocks until the tasks due now have run.
    void drain()
    {
        std::promise<void> done;
        auto future = done.get_future();
        after(std::chrono::milliseconds(0), [&done] { done.set_value(); });
        future.wait();
    }

    ~LogQueue()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            wake_.notify_one();
        }
        if (thread_ && owner_ == ::getpid())
            thread_->join();
    }

private:
    LogQueue()
    {
        pthread_atfork([] { shared().mutex_.lock(); }, [] { shared().mutex_.unlock(); },
                       [] {
                           auto& queue = shared();
                           // The thread did not come along; its handle is left alone.
                           queue.thread_.release();
                           queue.mutex_.unlock();
                       });
    }

    void startIfNeeded()
    {
        if (thread_ && owner_ == ::getpid())
            return;
        owner_ = ::getpid();
        thread_ = std::make_unique<std::thread>(startThread([this] { run(); }));
    }

    void run()
    {
        pthread_setname_np(pthread_self(), "kx-project-log");
        std::unique_lock lock(mutex_);
        for (;;) {
            if (tasks_.empty()) {
                if (stopping_)
                    return;
                wake_.wait(lock);
                continue;
            }
            auto first = tasks_.begin();
            // When the process ends, delayed writes go at once.
            if (!stopping_ && first->first.first > SteadyClock::now()) {
                wake_.wait_until(lock, first->first.first);
                continue;
            }
            auto task = std::move(first->second);
            tasks_.erase(first);
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::pair<SteadyClock::time_point, std::uint64_t>, std::function<void()>> tasks_;
    std::uint64_t next_ = 0;
    std::unique_ptr<std::thread> thread_;
    pid_t owner_ = 0;
    bool stopping_ = false;
};

constexpr std::string_view markers[] = {"\"Authorization\": \"Token", "\\\"Authorization\\\": \\\"Token"};

// Appends to the log file, or makes it inside its folder; never through a link.
void append(const fs::path& path, const std::string& bytes)
{
    if (bytes.empty())
        return;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            // A link where the log belongs is replaced by the log.
            if (errno == ELOOP && ::unlink(path.c_str()) == 0)
                continue;
            return;
        }
        kx::writeAll(fd, bytes.data(), bytes.size());
        ::close(fd);
        return;
    }
}

} // namespace

struct KVDocumentLogger::State {
    // Under the mutex: the folder may move while the queue writes.
    std::optional<fs::path> fileURL;
    std::mutex mutex;
    std::string buffer;
    bool shouldFlush = true;
    std::vector<std::string> previousMessageIDs;

    void flush()
    {
        std::string bytes;
        std::optional<fs::path> output;
        {
            std::lock_guard lock(mutex);
            bytes.swap(buffer);
            shouldFlush = true;
            output = fileURL;
        }
        if (output)
            append(*output, bytes);
    }

    // Keeps the last MiB of the file, whole lines only, with tokens hidden; written through a
    // temporary file, so that a crash leaves the old or the new log.
    void cutAndHide()
    {
        std::optional<fs::path> output;
        {
            std::lock_guard lock(mutex);
            output = fileURL;
        }
        if (!output)
            return;
        const fs::path& fileURL = *output;
        int fd = ::open(fileURL.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return;
        }
        const auto size = static_cast<std::uint64_t>(info.st_size);
        const std::uint64_t kept = std::min<std::uint64_t>(size, truncSize);
        std::string text(kept, '\0');
        size_t have = 0;
        while (have < kept) {
            ssize_t got = ::pread(fd, text.data() + have, kept - have, static_cast<off_t>(size - kept + have));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            have += static_cast<size_t>(got);
        }
        ::close(fd);
        text.resize(have);
        if (size > truncSize) {
            auto newline = text.find('\n');
            text.erase(0, newline == std::string::npos ? text.size() : newline + 1);
        }
        std::string result;
        result.reserve(text.size() + 64);
        size_t start = 0;
        for (;;) {
            size_t end = text.find('\n', start);
            std::string_view piece(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
            if (isValidUTF8(piece))
                result += hideTokens(piece);
            if (end == std::string::npos)
                break;
            result += '\n';
            start = end + 1;
        }
        result += '\n';
        FileSystem::atomicWrite(fileURL, result);
    }
};

KVDocumentLogger::KVDocumentLogger(fs::path output)
    : state_(std::make_shared<State>())
{
    state_->fileURL = std::move(output);
    LogQueue::shared().after(std::chrono::milliseconds(0), ifAlive(state_, &State::cutAndHide));
}

KVDocumentLogger::~KVDocumentLogger()
{
    // Holds the state until the last lines are written.
    LogQueue::shared().after(std::chrono::milliseconds(0), [state = state_] { state->flush(); });
}

fs::path KVDocumentLogger::fileURL() const
{
    std::lock_guard lock(state_->mutex);
    return state_->fileURL.value_or(fs::path());
}

void KVDocumentLogger::moveTo(std::optional<fs::path> output)
{
    std::lock_guard lock(state_->mutex);
    state_->fileURL = std::move(output);
}

void KVDocumentLogger::log(const LogMessage& message)
{
    log(std::vector<LogMessage>{message});
}

void KVDocumentLogger::log(const std::vector<LogMessage>& messages)
{
    if (messages.empty())
        return;
    const std::string time = DateFormat::format(DateFormat::Clock::now(), DateFormat::logPattern, DateFormat::Zone::local);
    bool scheduleFlush = false;
    {
        std::lock_guard lock(state_->mutex);
        std::vector<std::string> ids;
        std::string text;
        for (const auto& message : messages) {
            if (message.id) {
                ids.push_back(*message.id);
                if (std::find(state_->previousMessageIDs.begin(), state_->previousMessageIDs.end(), *message.id)
                    != state_->previousMessageIDs.end())
                    continue;
            }
            std::string type = message.type;
            for (auto& c : type)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            std::string line = "[" + time + "] - " + type + " - " + message.content;
            // Text that is not UTF-8 is dropped, not written as garbage.
            if (!isValidUTF8(line))
                continue;
            // Hidden line by line: a message may span several lines of the file.
            size_t start = 0;
            for (;;) {
                size_t end = line.find('\n', start);
                text += hideTokens(std::string_view(line).substr(start, end == std::string::npos ? std::string::npos : end - start));
                if (end == std::string::npos)
                    break;
                text += '\n';
                start = end + 1;
            }
            text += '\n';
        }
        if (!ids.empty())
            state_->previousMessageIDs = std::move(ids);
        state_->buffer += text;
        if (state_->shouldFlush) {
            state_->shouldFlush = false;
            scheduleFlush = true;
        }
    }
    if (scheduleFlush)
        LogQueue::shared().after(std::chrono::seconds(1), ifAlive(state_, &State::flush));
}

void KVDocumentLogger::waitUntilWritten()
{
    LogQueue::shared().after(std::chrono::milliseconds(0), [state = state_] { state->flush(); });
    LogQueue::shared().drain();
}

std::string KVDocumentLogger::hideTokens(std::string_view line)
{
    size_t cut = std::string_view::npos;
    for (auto marker : markers) {
        size_t found = line.find(marker);
        if (found == std::string_view::npos)
            continue;
        // The quote (or escaped quote) before the word Token.
        size_t quote = found + marker.size() - 5 - (marker.front() == '\\' ? 2 : 1);
        cut = std::min(cut, quote);
    }
    if (cut == std::string_view::npos)
        return std::string(line);
    return std::string(line.substr(0, cut)) + "<hidden>";
}

} // namespace kx
