#include "Services/generated/MenuActionTarget.h"

namespace kx::MenuActionTarget {

namespace {

class OutgoingWrapper final : public Interface {
public:
    explicit OutgoingWrapper(SendFunction helper)
        : helper(std::move(helper))
    {
    }
    void validate(KorvelServices::MenuAction value, CompletionHandler<KorvelServices::MenuValidationResult> completionHandler) override
    {
        sendOutgoing<KorvelServices::MenuValidationResult>(helper, "validate", outgoingBody(value), std::move(completionHandler));
    }
    void dispatch(KorvelServices::MenuAction value, CompletionHandler<KorvelServices::MenuDispatchResult> completionHandler) override
    {
        sendOutgoing<KorvelServices::MenuDispatchResult>(helper, "dispatch", outgoingBody(value), std::move(completionHandler));
    }
    SendFunction helper;
};

} // namespace

IncomingHandler Service::newIncomingWrapper(std::shared_ptr<Interface> implementation) const
{
    static constexpr std::array methods{
        incomingMethod<&Interface::validate>("validate"),
        incomingMethod<&Interface::dispatch>("dispatch"),
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

} // namespace kx::MenuActionTarget
