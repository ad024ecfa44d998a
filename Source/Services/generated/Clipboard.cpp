#include "Services/generated/Clipboard.h"

namespace kx::Clipboard {

namespace {

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void write(Write value, CompletionHandler<Unit> completionHandler) override
    {
        sendOutgoing<Unit>(helper, "write", outgoingBody(value), std::move(completionHandler));
    }
    void read(std::optional<ReadOptions> options, CompletionHandler<Read> completionHandler) override
    {
        sendOutgoing<Read>(helper, "read", outgoingBody(options), std::move(completionHandler));
    }
};

} // namespace

const Service& service()
{
    static const Service instance("__Clipboard__", "fcb5905c78b9ae9e68996493a0e20675",
                                  {
                                      incomingMethod<&Interface::write>("write"),
                                      incomingMethod<&Interface::read>("read"),
                                  },
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace kx::Clipboard
