#include "Services/generated/GestureEventTarget.h"

namespace kx::GestureEventTarget {

namespace {

class OutgoingWrapper final : public Interface {
public:
    explicit OutgoingWrapper(SendFunction helper)
        : helper(std::move(helper))
    {
    }
    void dispatchMagnificationEvent(KorvelServices::MagnificationEvent value, CompletionHandler<Unit> completionHandler) override
    {
        sendOutgoing<Unit>(helper, "dispatchMagnificationEvent", outgoingBody(value), std::move(completionHandler));
    }
    SendFunction helper;
};

} // namespace

IncomingHandler Service::newIncomingWrapper(std::shared_ptr<Interface> implementation) const
{
    static constexpr std::array methods{
        incomingMethod<&Interface::dispatchMagnificationEvent>("dispatchMagnificationEvent"),
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

} // namespace kx::GestureEventTarget
