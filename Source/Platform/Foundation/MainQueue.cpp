#include "Platform/Foundation/MainQueue.h"

#include <atomic>
#include <exception>
#include <thread>

#include <glib.h>

namespace kx {

namespace {

// Static initialisation runs on the thread that starts the process.
const std::thread::id mainThreadId = std::this_thread::get_id();

struct Work {
    std::function<void()> work;
};

// An exception cannot unwind through GLib's C frames: it would end in std::terminate, and the
// reason with it. It is a programming error; say what it was and stop.
void runGuarded(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& exception) {
        g_error("Fatal error: work on the main queue threw an exception: %s", exception.what());
    } catch (...) {
        g_error("Fatal error: work on the main queue threw an exception of unknown type");
    }
}

gboolean runOnce(gpointer data)
{
    auto* item = static_cast<Work*>(data);
    if (item->work)
        runGuarded(item->work);
    return G_SOURCE_REMOVE;
}

void destroyWork(gpointer data)
{
    delete static_cast<Work*>(data);
}

// Each piece of work is a source of its own: equal-priority sources dispatch in the order they
// were attached, and a nested main loop (a run-loop wait inside one piece of work) still runs
// the pieces that follow it.
void attach(guint priority, guint delayMs, GSourceFunc function, gpointer data, GDestroyNotify destroy,
            GSource** keep = nullptr)
{
    GSource* source = delayMs == 0 && !keep ? g_idle_source_new() : g_timeout_source_new(delayMs);
    g_source_set_priority(source, priority);
    g_source_set_callback(source, function, data, destroy);
    if (keep)
        *keep = g_source_ref(source);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

class TimerImpl final : public MainQueue::Timer {
public:
    TimerImpl(std::function<void()> work, bool repeats)
        : work_(std::move(work))
        , repeats_(repeats)
    {
    }
    ~TimerImpl() override
    {
        if (source_)
            g_source_unref(source_);
    }

    void start(guint delayMs, const std::shared_ptr<TimerImpl>& self)
    {
        // The source holds the timer alive until it is destroyed; cancelling destroys it.
        auto* holder = new std::shared_ptr<TimerImpl>(self);
        attach(G_PRIORITY_DEFAULT, delayMs, &TimerImpl::fire, holder,
               [](gpointer data) { delete static_cast<std::shared_ptr<TimerImpl>*>(data); }, &source_);
    }

    void cancel() override
    {
        if (cancelled_.exchange(true))
            return;
        if (source_)
            g_source_destroy(source_);
    }
    bool isCancelled() const override { return cancelled_.load(); }

private:
    static gboolean fire(gpointer data)
    {
        auto self = *static_cast<std::shared_ptr<TimerImpl>*>(data);
        if (self->cancelled_.load())
            return G_SOURCE_REMOVE;
        if (!self->repeats_)
            self->cancelled_.store(true);
        runGuarded(self->work_);
        return self->repeats_ && !self->cancelled_.load() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }

    std::function<void()> work_;
    bool repeats_;
    std::atomic<bool> cancelled_{false};
    GSource* source_ = nullptr;
};

std::shared_ptr<MainQueue::Timer> startTimer(std::chrono::milliseconds delay, std::function<void()> work, bool repeats)
{
    auto timer = std::make_shared<TimerImpl>(std::move(work), repeats);
    timer->start(static_cast<guint>(std::max<std::int64_t>(0, delay.count())), timer);
    return timer;
}

} // namespace

void MainQueue::async(std::function<void()> work)
{
    attach(G_PRIORITY_DEFAULT, 0, runOnce, new Work{std::move(work)}, destroyWork);
}

std::shared_ptr<MainQueue::Timer> MainQueue::after(std::chrono::milliseconds delay, std::function<void()> work)
{
    return startTimer(delay, std::move(work), false);
}

std::shared_ptr<MainQueue::Timer> MainQueue::repeating(std::chrono::milliseconds interval, std::function<void()> work)
{
    return startTimer(interval, std::move(work), true);
}

void MainQueue::whenIdle(std::function<void()> work)
{
    attach(G_PRIORITY_DEFAULT_IDLE, 0, runOnce, new Work{std::move(work)}, destroyWork);
}

bool MainQueue::isMainThread()
{
    return std::this_thread::get_id() == mainThreadId;
}

} // namespace kx
