#include "Platform/Foundation/ThreadPool.h"

#include <pthread.h>

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

void ThreadPool::run()
{
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

ThreadPool& ThreadPool::global()
{
    // Never destroyed: work may still be queued when the process exits.
    static auto* pool = new ThreadPool(0, "kx-global");
    return *pool;
}

} // namespace kx
