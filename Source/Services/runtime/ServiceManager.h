// The native registry of one web view: at most one Router per channel, the native
// implementations registered on them, and the interfaces of the services the page offers.
// Main thread only.
#pragma once

#include <memory>
#include <vector>

#include "Services/runtime/Router.h"
#include "Services/runtime/ServiceDebugging.h"

namespace kx {

class ServiceManager {
public:
    explicit ServiceManager(std::shared_ptr<const ServiceDebugging::Logger> logger);
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // The router of this channel (the same object), made and kept on first request.
    std::shared_ptr<Router> addRouter(const std::shared_ptr<ServiceChannel>& channel);

    // Serves `service` on `channel` with `implementation`, replacing an earlier registration of
    // the same service there. Sends nothing: the page learns of it at its next "#discover".
    // (`register` is a reserved word in C++.)
    template <Service S>
    void registerService(const S& service, const std::shared_ptr<ServiceChannel>& channel,
                         std::shared_ptr<typename S::Interface> implementation)
    {
        auto router = addRouter(channel);
        IncomingHandler helper = service.newIncomingWrapper(implementation);
        router->registerImplementation(service.id, service.fingerprint, std::move(helper), std::move(implementation));
    }

    // The interface of a service that the page implements, bound to the channel's router.
    template <Service S>
    std::shared_ptr<typename S::Interface> expect(const S& service, const std::shared_ptr<ServiceChannel>& channel)
    {
        return addRouter(channel)->expect(service);
    }

    const std::shared_ptr<const ServiceDebugging::Logger>& logger() const { return logger_; }
    const std::vector<std::shared_ptr<Router>>& routers() const { return routers_; }

private:
    std::shared_ptr<const ServiceDebugging::Logger> logger_;
    std::vector<std::shared_ptr<Router>> routers_;
};

} // namespace kx
