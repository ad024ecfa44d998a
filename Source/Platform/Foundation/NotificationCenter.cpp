#include "Platform/Foundation/NotificationCenter.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

namespace {

struct Observer {
    std::string name;
    const void* sender;
    std::function<void(const Notification&)> handler;
    bool removed = false; // main thread only once delivery started
};

struct Pending {
    std::string name;
    const void* sender;
    nlohmann::json userInfo;
};

} // namespace

struct NotificationCenter::State : std::enable_shared_from_this<NotificationCenter::State> {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;
    std::vector<Pending> pending;
    bool flushScheduled = false;

    void remove(const std::shared_ptr<Observer>& observer)
    {
        std::lock_guard lock(mutex);
        observer->removed = true;
        std::erase(observers, observer);
    }

    void deliver(const Notification& notification)
    {
        std::vector<std::shared_ptr<Observer>> matching;
        {
            std::lock_guard lock(mutex);
            for (auto& observer : observers)
                if (observer->name == notification.name && (!observer->sender || observer->sender == notification.sender))
                    matching.push_back(observer);
        }
        for (auto& observer : matching) {
            bool removed;
            {
                std::lock_guard lock(mutex);
                removed = observer->removed;
            }
            if (!removed)
                observer->handler(notification);
        }
    }

    void flush()
    {
        std::vector<Pending> posts;
        {
            std::lock_guard lock(mutex);
            posts.swap(pending);
            flushScheduled = false;
        }
        for (auto& post : posts)
            deliver(Notification{std::move(post.name), post.sender, std::move(post.userInfo)});
    }
};

namespace {

class NotificationObservation final : public NotificationCenter::Observation {
public:
    NotificationObservation(std::weak_ptr<NotificationCenter::State> state, std::shared_ptr<Observer> observer)
        : state_(std::move(state))
        , observer_(std::move(observer))
    {
    }
    ~NotificationObservation() override
    {
        if (auto state = state_.lock())
            state->remove(observer_);
    }

private:
    std::weak_ptr<NotificationCenter::State> state_;
    std::shared_ptr<Observer> observer_;
};

} // namespace

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: observers may outlive static destruction order.
    static auto* center = new NotificationCenter();
    return *center;
}

NotificationCenter::NotificationCenter()
    : state_(std::make_shared<State>())
{
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* sender,
                                                          std::function<void(const Notification&)> handler)
{
    auto observer = std::make_shared<Observer>(Observer{std::move(name), sender, std::move(handler)});
    {
        std::lock_guard lock(state_->mutex);
        state_->observers.push_back(observer);
    }
    return std::make_unique<NotificationObservation>(state_, std::move(observer));
}

void NotificationCenter::post(std::string name, const void* sender, nlohmann::json userInfo)
{
    Notification notification{std::move(name), sender, std::move(userInfo)};
    if (MainQueue::isMainThread()) {
        state_->deliver(notification);
        return;
    }
    MainQueue::async(ifAlive(state_, [notification = std::move(notification)](State& state) { state.deliver(notification); }));
}

void NotificationCenter::enqueue(std::string name, const void* sender, nlohmann::json userInfo)
{
    bool schedule = false;
    {
        std::lock_guard lock(state_->mutex);
        auto it = std::find_if(state_->pending.begin(), state_->pending.end(),
                               [&](const Pending& p) { return p.name == name && p.sender == sender; });
        if (it != state_->pending.end())
            it->userInfo = std::move(userInfo);
        else
            state_->pending.push_back({std::move(name), sender, std::move(userInfo)});
        if (!state_->flushScheduled)
            schedule = state_->flushScheduled = true;
    }
    if (schedule) {
        MainQueue::whenIdle(ifAlive(state_, &State::flush));
    }
}

void NotificationCenter::cancelPending(const void* sender)
{
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->pending, [&](const Pending& p) { return p.sender == sender; });
}

} // namespace kx
