// A fixed set of worker threads that run submitted work in order of submission. Also the
// serial queue of a subsystem (one thread).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
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

    // Calls `body(i)` once for every i below `count`, on up to `width` threads at once: the
    // calling thread and free threads of the pool (0: as many as the pool has). Returns once
    // no call runs any more. The first exception a call throws stops the handing out of further
    // indices and is thrown here after the calls already running have returned. The calling
    // thread takes indices too, so this never waits for a busy pool, also on a pool thread.
    void forEachIndex(std::size_t count, const std::function<void(std::size_t)>& body, unsigned width = 0);

    // Indices handed out to the pool's threads while the caller goes on with other work (it
    // takes no index itself): `body(i)` in order of i, each once, on up to `width` threads.
    // Destroying it, or `stop()`, hands out no further index and waits for the calls running;
    // an index not handed out by then is never called. A call must not throw.
    class Batch {
    public:
        Batch(ThreadPool& pool, std::size_t count, std::function<void(std::size_t)> body, unsigned width = 0);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        void stop();

        struct State;

    private:
        std::shared_ptr<State> state_;
    };

    // The pool for bulk work on the bytes of files (packing and unpacking packages): one thread
    // per processor, apart from the global pool so that its short work never waits behind it.
    static ThreadPool& bulk();

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
