// A fixed set of worker threads that run submitted work in order of submission. Also the
// serial queue of a subsystem (one thread).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx {

class ThreadPool {
public:
    // `threads` 0 means the number of processors.
    explicit ThreadPool(unsigned threads = 0, std::string name = "kx-worker");
    // Finishes the work already submitted, then joins the threads.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    void async(std::function<void()> work);
    // Blocks until every piece of work submitted so far has finished.
    void waitUntilIdle();
    unsigned threadCount() const { return static_cast<unsigned>(threads_.size()); }

    // A process-wide pool for short background work (global queue).
    static ThreadPool& global();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    unsigned busy_ = 0;
    bool stopping_ = false;
    std::string name_;
};

} // namespace kx
