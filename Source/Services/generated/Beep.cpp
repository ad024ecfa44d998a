#include "Services/generated/Beep.h"

namespace kx::Beep {

namespace {

class OutgoingWrapper final : public Interface {
public:
    explicit OutgoingWrapper(SendFunction helper)
        : helper(std::move(helper))
    {
    }
    void beep(CompletionHandler<Unit> completionHandler) override
    {
        sendOutgoing<Unit>(helper, "beep", std::nullopt, std::move(completionHandler));
    }
    SendFunction helper;
};

} // namespace

IncomingHandler Service::newIncomingWrapper(std::shared_ptr<Interface> implementation) const
{
    static constexpr std::array methods{
        incomingMethod<&Interface::beep>("beep"),
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

} // namespace kx::Beep
