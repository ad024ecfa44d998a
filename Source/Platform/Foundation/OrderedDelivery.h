// Work done on the worker pool whose results reach the main thread in the order the work was
// given, behind whatever was given before it: a large message is decoded off the main loop,
// and the small ones after it (and a reset of their page) wait for it.
//
// Main thread only. Results whose owner is gone by the time they are ready are dropped.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace kx {

class OrderedDelivery : public std::enable_shared_from_this<OrderedDelivery> {
public:
    using Deliver = std::function<void()>;

    static std::shared_ptr<OrderedDelivery> make();

    // Runs `work` on the worker pool; what it returns runs on the main thread once everything
    // given before it has been delivered.
    void async(std::function<Deliver()> work);
    // Runs `deliver` on the main thread once everything given before it has been delivered: at
    // once when nothing is waiting.
    void then(Deliver deliver);
    // Drops whatever has not been delivered yet.
    void clear();
    bool isIdle() const { return pending_.empty(); }

private:
    OrderedDelivery() = default;
    void drain();

    std::deque<std::shared_ptr<std::optional<Deliver>>> pending_;
    bool draining_ = false;
};

} // namespace kx
