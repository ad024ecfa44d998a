#include "Platform/Foundation/ThreadPool.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "Platform/Foundation/AlternateSignalStack.h"

namespace kx {

ThreadPool::ThreadPool(unsigned threads, std::string name)
    : name_(std::move(name))
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < threads; ++i) {
        threads_.push_back(startThread([this] { run(); }));
        pthread_setname_np(threads_.back().native_handle(), name_.substr(0, 15).c_str());
    }
}

ThreadPool::~ThreadPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

void ThreadPool::async(std::function<void()> work)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void ThreadPool::waitUntilIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
}

namespace {

// Background work yields the processor to the thread that draws and answers the user: a
// backup that packs on every core must not keep the main loop waiting for its turn.
constexpr int backgroundNiceness = 5;

void runInTheBackground()
{
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        static_cast<void>(::setpriority(PRIO_PROCESS, thread, std::min(current + backgroundNiceness, 19)));
}

} // namespace

void ThreadPool::run()
{
    runInTheBackground();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return; // stopping, and nothing left to do
        auto work = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        work();
        lock.lock();
        --busy_;
        if (queue_.empty() && busy_ == 0)
            idle_.notify_all();
    }
}

struct ThreadPool::Batch::State {
    std::mutex mutex;
    std::condition_variable done;
    std::size_t next = 0;
    std::size_t count = 0;
    unsigned running = 0;
    bool closed = false;
    std::exception_ptr failure;
    std::function<void(std::size_t)> body;

    // Takes indices until there are none left, a call failed or the batch was stopped.
    void work()
    {
        std::unique_lock lock(mutex);
        if (closed)
            return;
        ++running;
        while (!closed && !failure && next < count) {
            std::size_t index = next++;
            lock.unlock();
            std::exception_ptr thrown;
            try {
                body(index);
            } catch (...) {
                thrown = std::current_exception();
            }
            lock.lock();
            if (thrown && !failure)
                failure = thrown;
        }
        if (--running == 0)
            done.notify_all();
    }

    void close()
    {
        std::unique_lock lock(mutex);
        closed = true;
        done.wait(lock, [this] { return running == 0; });
        // What the calls held goes now, not with the last queued task that finds nothing to do.
        lock.unlock();
        body = nullptr;
    }
};

ThreadPool::Batch::Batch(ThreadPool& pool, std::size_t count, std::function<void(std::size_t)> body, unsigned width)
    : state_(std::make_shared<State>())
{
    state_->count = count;
    state_->body = std::move(body);
    std::size_t helpers = std::min<std::size_t>(count, width ? std::min(width, pool.threadCount()) : pool.threadCount());
    for (std::size_t i = 0; i < helpers; ++i)
        pool.async([state = state_] { state->work(); });
}

ThreadPool::Batch::~Batch()
{
    stop();
}

void ThreadPool::Batch::stop()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
    }
    state_->close();
}

void ThreadPool::forEachIndex(std::size_t count, const std::function<void(std::size_t)>& body, unsigned width)
{
    if (count == 0)
        return;
    auto state = std::make_shared<Batch::State>();
    state->count = count;
    state->body = [&body](std::size_t index) { body(index); };
    unsigned limit = width ? width : threadCount() + 1;
    std::size_t helpers = std::min<std::size_t>({count - 1, static_cast<std::size_t>(limit - 1), threadCount()});
    for (std::size_t i = 0; i < helpers; ++i)
        async([state] { state->work(); });
    state->work();
    state->close();
    if (state->failure)
        std::rethrow_exception(state->failure);
}

ThreadPool& ThreadPool::bulk()
{
    // Never destroyed, like the global pool. A forked child has none of its parent's threads
    // (and their state is left as it was at the fork): it makes a pool of its own.
    static std::mutex mutex;
    static ThreadPool* pool = nullptr;
    static pid_t owner = 0;
    std::lock_guard lock(mutex);
    if (!pool || owner != ::getpid()) {
        pool = new ThreadPool(0, "kx-bulk");
        owner = ::getpid();
    }
    return *pool;
}

ThreadPool& ThreadPool::global()
{
    // Never destroyed: work may still be queued when the process exits.
    static auto* pool = new ThreadPool(0, "kx-global");
    return *pool;
}

} // namespace kx
