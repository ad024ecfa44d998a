// "Call if the owner still lives": a callback that holds its owner weakly, for timers,
// completions and signal handlers that may fire after the owner is gone.
//
//     MainQueue::async(ifAlive(weak_from_this(), &Loader::finish));
//     request(ifAlive(weak, [](Loader& self, Result result) { self.take(std::move(result)); }));
//
// The step is a member function or anything callable with the owner first; it runs only while
// the owner lives, and what it returns is dropped.
#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace kx {

template <class Owner, class Step>
auto ifAlive(std::weak_ptr<Owner> owner, Step step)
{
    return [owner = std::move(owner), step = std::move(step)](auto&&... arguments) mutable {
        if (const std::shared_ptr<Owner> strong = owner.lock())
            static_cast<void>(std::invoke(step, *strong, std::forward<decltype(arguments)>(arguments)...));
    };
}

template <class Owner, class Step>
auto ifAlive(const std::shared_ptr<Owner>& owner, Step step)
{
    return ifAlive(std::weak_ptr<Owner>(owner), std::move(step));
}

} // namespace kx
