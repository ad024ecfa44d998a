#include "Services/generated/ContextMenuPresenter.h"

namespace kx::ContextMenuPresenter {

namespace {

class OutgoingWrapper final : public Interface {
public:
    explicit OutgoingWrapper(SendFunction helper)
        : helper(std::move(helper))
    {
    }
    void showContextMenu(KorvelServices::ContextMenu value, CompletionHandler<KorvelServices::ContextMenuResult> completionHandler) override
    {
        sendOutgoing<KorvelServices::ContextMenuResult>(helper, "showContextMenu", outgoingBody(value), std::move(completionHandler));
    }
    SendFunction helper;
};

} // namespace

IncomingHandler Service::newIncomingWrapper(std::shared_ptr<Interface> implementation) const
{
    static constexpr std::array methods{
        incomingMethod<&Interface::showContextMenu>("showContextMenu"),
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

} // namespace kx::ContextMenuPresenter
