// Named notifications within the process. Observers are called synchronously on the main
// thread; posting from another thread hands delivery to the main queue. `enqueue` coalesces
// posts of one name and sender until the main loop is idle and delivers them once.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace kx {

struct Notification {
    std::string name;
    const void* sender = nullptr; // the posting object, compared by identity only
    nlohmann::json userInfo;      // null when there is none
};

class NotificationCenter {
public:
    // Removes its observer when destroyed (or when reset).
    class Observation {
    public:
        virtual ~Observation() = default;
    };
    using Token = std::unique_ptr<Observation>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Observes `name` from `sender`, or from every sender when it is null. An observer removed
    // while a post is delivered is not called afterwards.
    [[nodiscard]] Token addObserver(std::string name, const void* sender,
                                    std::function<void(const Notification&)> handler);

    // Delivers at once on the main thread; from another thread, on the main queue.
    void post(std::string name, const void* sender, nlohmann::json userInfo = nullptr);

    // Delivers once the main loop is idle; further posts of the same name and sender before
    // that are merged into the pending one (the last user info wins).
    void enqueue(std::string name, const void* sender, nlohmann::json userInfo = nullptr);

    // Drops pending coalesced posts from `sender` (for an object that goes away).
    void cancelPending(const void* sender);

    struct State; // the implementation's, shared with outstanding observations

private:
    std::shared_ptr<State> state_;
};

} // namespace kx
