#include "Services/generated/Clipboard.h"

namespace kx::Clipboard {

namespace {

class OutgoingWrapper final : public Interface {
public:
    explicit OutgoingWrapper(SendFunction helper)
        : helper(std::move(helper))
    {
    }
    void write(Write value, CompletionHandler<Unit> completionHandler) override
    {
        sendOutgoing<Unit>(helper, "write", outgoingBody(value), std::move(completionHandler));
    }
    void read(std::optional<ReadOptions> options, CompletionHandler<Read> completionHandler) override
    {
        sendOutgoing<Read>(helper, "read", outgoingBody(options), std::move(completionHandler));
    }
    SendFunction helper;
};

} // namespace

IncomingHandler Service::newIncomingWrapper(std::shared_ptr<Interface> implementation) const
{
    static constexpr std::array methods{
        incomingMethod<&Interface::write>("write"),
        incomingMethod<&Interface::read>("read"),
    };
    return makeIncomingHandler(std::move(implementation), methods);
}

std::shared_ptr<Interface> Service::newOutgoingWrapper(SendFunction helper) const
{
    return std::make_shared<OutgoingWrapper>(std::move(helper));
}

const Service& service()
{
    static const Service instance;
    return instance;
}

} // namespace kx::Clipboard
