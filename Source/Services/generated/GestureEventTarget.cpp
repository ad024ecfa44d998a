#include "Services/generated/GestureEventTarget.h"

namespace kx::GestureEventTarget {

namespace {

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void dispatchMagnificationEvent(KorvelServices::MagnificationEvent value, CompletionHandler<Unit> completionHandler) override
    {
        sendOutgoing<Unit>(helper, "dispatchMagnificationEvent", outgoingBody(value), std::move(completionHandler));
    }
};

} // namespace

const Service& service()
{
    static const Service instance("__GestureEventTarget__", "eea70ddc08f14b4c6d18b1989490f536", {incomingMethod<&Interface::dispatchMagnificationEvent>("dispatchMagnificationEvent")},
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace kx::GestureEventTarget
