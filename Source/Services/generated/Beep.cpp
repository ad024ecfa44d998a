#include "Services/generated/Beep.h"

namespace kx::Beep {

namespace {

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void beep(CompletionHandler<Unit> completionHandler) override
    {
        sendOutgoing<Unit>(helper, "beep", std::nullopt, std::move(completionHandler));
    }
};

} // namespace

const Service& service()
{
    static const Service instance("__Beep__", "61a1004615dc1e33269b7165105b3499", {incomingMethod<&Interface::beep>("beep")},
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace kx::Beep
