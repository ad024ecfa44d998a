#include "Platform/Documents/DocumentClock.h"

namespace kx {

namespace {

class SystemDocumentClock final : public DocumentClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    std::shared_ptr<MainQueue::Timer> after(Duration delay, std::function<void()> work) override
    {
        return MainQueue::after(delay, std::move(work));
    }
};

std::shared_ptr<DocumentClock>& replacement()
{
    static std::shared_ptr<DocumentClock> clock;
    return clock;
}

} // namespace

DocumentClock& DocumentClock::shared()
{
    if (replacement())
        return *replacement();
    static SystemDocumentClock clock;
    return clock;
}

void DocumentClock::setSharedForTesting(std::shared_ptr<DocumentClock> clock)
{
    replacement() = std::move(clock);
}

} // namespace kx
