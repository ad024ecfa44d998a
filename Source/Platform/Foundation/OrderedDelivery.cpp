#include "Platform/Foundation/OrderedDelivery.h"

#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

std::shared_ptr<OrderedDelivery> OrderedDelivery::make()
{
    return std::shared_ptr<OrderedDelivery>(new OrderedDelivery());
}

void OrderedDelivery::async(std::function<Deliver()> work)
{
    auto slot = std::make_shared<std::optional<Deliver>>();
    pending_.push_back(slot);
    ThreadPool::global().async([weak = weak_from_this(), slot, work = std::move(work)]() mutable {
        auto result = std::make_shared<Deliver>(work());
        work = nullptr; // what the work held goes here, off the main thread
        MainQueue::async(ifAlive(std::move(weak), [slot = std::move(slot), result = std::move(result)](OrderedDelivery& self) {
            *slot = std::move(*result);
            self.drain();
        }));
    });
}

void OrderedDelivery::then(Deliver deliver)
{
    if (pending_.empty() && !draining_) {
        deliver();
        return;
    }
    pending_.push_back(std::make_shared<std::optional<Deliver>>(std::move(deliver)));
    drain();
}

void OrderedDelivery::clear()
{
    pending_.clear();
}

void OrderedDelivery::drain()
{
    if (draining_)
        return; // the loop below goes on with what was added
    auto self = shared_from_this(); // a delivery may let the owner go
    struct Draining {
        bool& flag;
        explicit Draining(bool& value) : flag(value) { flag = true; }
        ~Draining() { flag = false; }
    } draining(draining_);
    while (!pending_.empty() && pending_.front()->has_value()) {
        Deliver deliver = std::move(**pending_.front());
        pending_.pop_front();
        if (deliver)
            deliver();
    }
}

} // namespace kx
