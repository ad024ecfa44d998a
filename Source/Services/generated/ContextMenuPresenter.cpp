#include "Services/generated/ContextMenuPresenter.h"

namespace kx::ContextMenuPresenter {

namespace {

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void showContextMenu(KorvelServices::ContextMenu value, CompletionHandler<KorvelServices::ContextMenuResult> completionHandler) override
    {
        sendOutgoing<KorvelServices::ContextMenuResult>(helper, "showContextMenu", outgoingBody(value), std::move(completionHandler));
    }
};

} // namespace

const Service& service()
{
    static const Service instance("__ContextMenuPresenter__", "a93df917284e037b101c5c2e51738ad7", {incomingMethod<&Interface::showContextMenu>("showContextMenu")},
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace kx::ContextMenuPresenter
