#include "Services/generated/MenuActionTarget.h"

namespace kx::MenuActionTarget {

namespace {

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void validate(KorvelServices::MenuAction value, CompletionHandler<KorvelServices::MenuValidationResult> completionHandler) override
    {
        sendOutgoing<KorvelServices::MenuValidationResult>(helper, "validate", outgoingBody(value), std::move(completionHandler));
    }
    void dispatch(KorvelServices::MenuAction value, CompletionHandler<KorvelServices::MenuDispatchResult> completionHandler) override
    {
        sendOutgoing<KorvelServices::MenuDispatchResult>(helper, "dispatch", outgoingBody(value), std::move(completionHandler));
    }
};

} // namespace

const Service& service()
{
    static const Service instance("__MenuActionTarget__", "c4db8a6e44e670207d8e4fa156aa7438",
                                  {
                                      incomingMethod<&Interface::validate>("validate"),
                                      incomingMethod<&Interface::dispatch>("dispatch"),
                                  },
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace kx::MenuActionTarget
