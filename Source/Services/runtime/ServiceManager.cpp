#include "Services/runtime/ServiceManager.h"

namespace kx {

ServiceManager::ServiceManager(std::shared_ptr<const ServiceDebugging::Logger> logger)
    : logger_(std::move(logger))
{
}

std::shared_ptr<Router> ServiceManager::addRouter(const std::shared_ptr<ServiceChannel>& channel)
{
    for (const auto& router : routers_) {
        if (router->channel() == channel)
            return router;
    }
    routers_.push_back(Router::make(channel, logger_));
    return routers_.back();
}

} // namespace kx
