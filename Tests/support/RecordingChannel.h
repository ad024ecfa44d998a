// A service channel for headless tests: it keeps what is posted and delivers what the test
// hands it, as a page would.
#pragma once

#include <vector>

#include "Services/runtime/ServiceChannel.h"

namespace kxtest {

class RecordingChannel final : public kx::ServiceChannel {
public:
    void postMessage(Message message) override { posted.push_back(std::move(message)); }
    void addMessageListener(Listener listener) override { listeners.push_back(std::move(listener)); }

    void deliver(const Message& message)
    {
        const auto current = listeners;
        for (const auto& listener : current)
            listener(message);
    }

    // The page goes, as on a navigation or a crash.
    void reset() { notifyReset(); }

    std::vector<Message> posted;
    std::vector<Listener> listeners;
};

} // namespace kxtest
