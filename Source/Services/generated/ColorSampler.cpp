#include "Services/generated/ColorSampler.h"

namespace kx::ColorSampler {

namespace {

class OutgoingWrapper final : public OutgoingWrapperBase<Interface> {
public:
    using OutgoingWrapperBase::OutgoingWrapperBase;
    void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) override
    {
        sendOutgoing<KorvelServices::Color>(helper, "sampleColor", std::nullopt, std::move(completionHandler));
    }
};

} // namespace

const Service& service()
{
    static const Service instance("__ColorSampler__", "47e58950414de7a0679a8b7847789793", {incomingMethod<&Interface::sampleColor>("sampleColor")},
                                  &makeOutgoingWrapper<OutgoingWrapper, Interface>);
    return instance;
}

} // namespace kx::ColorSampler
