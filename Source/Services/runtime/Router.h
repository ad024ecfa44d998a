// The engine of one channel. It serves the page's requests with the registered native
// services, answers "#discover" with them, remembers the page's own "#discover" announcement,
// and matches native calls to page services with their answers by a fresh UUID per call.
// Main thread only. The channel's listener holds the router weakly: once nothing else holds
// it, messages on the channel are dropped without a trace.
//
// When the channel's peer goes (a new page, a reload, a crash), every native call still
// waiting for it fails with serviceGone, the peer's announcement is forgotten, and replies to
// the gone peer's requests are dropped: each completion runs exactly once, and nothing waits
// for a page that is no longer there.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Services/runtime/Discovery.h"
#include "Services/runtime/Service.h"
#include "Services/runtime/ServiceChannel.h"
#include "Services/runtime/ServiceDebugging.h"

namespace kx {

class Router : public std::enable_shared_from_this<Router> {
public:
    using Message = ServiceChannel::Message;

    struct Registration {
        Discovery::ServiceInfo info;
        IncomingHandler helper;
        std::shared_ptr<void> rawImplementation; // kept alive while registered
    };

    // Makes the router and installs its listener on the channel.
    static std::shared_ptr<Router> make(std::shared_ptr<ServiceChannel> channel,
                                        std::shared_ptr<const ServiceDebugging::Logger> logger);

    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    // The page-side service's interface, calling through this router (which it keeps alive).
    template <Service S>
    std::shared_ptr<typename S::Interface> expect(const S& service)
    {
        return service.newOutgoingWrapper(sendFunction(service.id, service.fingerprint));
    }

    // Files a native implementation under the service id, replacing an earlier one. Sends nothing.
    void registerImplementation(const std::string& serviceId, const std::string& fingerprint, IncomingHandler helper,
                                std::shared_ptr<void> rawImplementation);

    void onRequest(const Message& message);
    void onDiscoveryResponse(const Message& message);
    void onResponse(Message message);
    void onError(const Message& message, std::optional<ServiceError> error = std::nullopt);
    void broadcastDiscoveryInfo(const std::string& requestId);
    // The peer went: fails every waiting call with serviceGone and forgets its services.
    void onChannelReset();

    const std::shared_ptr<ServiceChannel>& channel() const { return channel_; }
    const std::optional<Discovery::Info>& latestDiscoveryInfo() const { return latestDiscoveryInfo_; }
    const std::map<std::string, Registration>& implementedServices() const { return implementedServices_; }
    std::size_t waitingRequestCount() const { return waitingRequestsMap_.size(); }

private:
    Router(std::shared_ptr<ServiceChannel> channel, std::shared_ptr<const ServiceDebugging::Logger> logger);

    void receive(Message message);
    SendFunction sendFunction(std::string serviceId, std::string fingerprint);
    void send(const std::string& serviceId, const std::string& fingerprint, const std::string& method,
              OptionalMessageBody body, ServiceReply completion);

    std::shared_ptr<ServiceChannel> channel_;
    std::shared_ptr<const ServiceDebugging::Logger> logger_;
    std::optional<Discovery::Info> latestDiscoveryInfo_;
    std::map<std::string, ServiceReply> waitingRequestsMap_;
    std::map<std::string, Registration> implementedServices_;
    // Counts the peer's resets; a reply belongs to the peer of its request's generation.
    std::uint64_t peerGeneration_ = 0;
};

} // namespace kx
