#include "Services/generated/ColorSampler.h"

namespace kx::ColorSampler {

namespace {

class OutgoingWrapper final : public Interface {
public:
    explicit OutgoingWrapper(SendFunction helper)
        : helper(std::move(helper))
    {
    }
    void sampleColor(CompletionHandler<KorvelServices::Color> completionHandler) override
    {
        sendOutgoing<KorvelServices::Color>(helper, "sampleColor", std::nullopt, std::move(completionHandler));
    }
    SendFunction helper;
};

} // namespace

IncomingHandler Service::newIncomingWrapper(std::shared_ptr<Interface> implementation) const
{
    static constexpr std::array methods{
        incomingMethod<&Interface::sampleColor>("sampleColor"),
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

} // namespace kx::ColorSampler
