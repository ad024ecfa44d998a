#include "Services/runtime/Router.h"

#include <atomic>

#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace {

constexpr std::string_view discoverMethod = "#discover";

using Reply = Result<OptionalMessageBody, ServiceError>;

} // namespace

std::shared_ptr<Router> Router::make(std::shared_ptr<ServiceChannel> channel,
                                     std::shared_ptr<const ServiceDebugging::Logger> logger)
{
    std::shared_ptr<Router> router(new Router(std::move(channel), std::move(logger)));
    router->channel_->addMessageListener(ifAlive(router, &Router::receive));
    router->channel_->addResetListener(ifAlive(router, &Router::onChannelReset));
    return router;
}

Router::Router(std::shared_ptr<ServiceChannel> channel, std::shared_ptr<const ServiceDebugging::Logger> logger)
    : channel_(std::move(channel))
    , logger_(std::move(logger))
{
}

void Router::receive(Message message)
{
    switch (message.type) {
    case ServiceChannel::MessageType::request:
        onRequest(message);
        break;
    case ServiceChannel::MessageType::response:
        if (message.method == discoverMethod)
            onDiscoveryResponse(message);
        else
            onResponse(std::move(message));
        break;
    case ServiceChannel::MessageType::error:
        onError(message);
        break;
    }
}

void Router::registerImplementation(const std::string& serviceId, const std::string& fingerprint, IncomingHandler helper,
                                    std::shared_ptr<void> rawImplementation)
{
    implementedServices_.insert_or_assign(serviceId,
                                          Registration{{fingerprint}, std::move(helper), std::move(rawImplementation)});
}

void Router::onRequest(const Message& message)
{
    logger_->log("Router.onRequest:", message);
    if (message.method == discoverMethod)
        return broadcastDiscoveryInfo(message.id);

    const auto found = implementedServices_.find(message.serviceId);
    if (found == implementedServices_.end()) {
        logger_->error("Router received unknown request:", message);
        channel_->postMessage({ServiceChannel::MessageType::error, message.id, message.serviceId, message.method,
                               ServiceValueHelper::toMessageBody(ServiceError::badRequest())});
        return;
    }

    // An implementation that completes twice must not answer one request twice: the page would
    // take the second answer for a later call's, or log it as stray. The reply holds the router
    // weakly: an implementation that keeps it (a colour pick, an open context menu) is itself
    // held by the router, and a strong hold would keep both alive for ever.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    ServiceReply reply = [weak = weak_from_this(), answered, generation = peerGeneration_, id = message.id,
                          serviceId = message.serviceId, method = message.method](Reply result) {
        if (answered->exchange(true))
            return;
        auto self = weak.lock();
        // The asking page has gone: its successor never asked.
        if (!self || self->peerGeneration_ != generation)
            return;
        if (result.isSuccess())
            self->channel_->postMessage({ServiceChannel::MessageType::response, id, serviceId, method,
                                         std::move(result).value()});
        else
            self->channel_->postMessage({ServiceChannel::MessageType::error, id, serviceId, method,
                                         ServiceValueHelper::toMessageBody(result.error())});
    };
    // A copy, so that a registration replaced while the call runs stays alive until it returns.
    const IncomingHandler helper = found->second.helper;
    helper(message.method, message.body, std::move(reply));
}

void Router::broadcastDiscoveryInfo(const std::string& requestId)
{
    Discovery::Info info;
    for (const auto& [serviceId, registration] : implementedServices_)
        info.services.emplace(serviceId, registration.info);
    channel_->postMessage({ServiceChannel::MessageType::response, requestId, "", std::string(discoverMethod),
                           ServiceValueHelper::toMessageBody(info)});
}

void Router::onChannelReset()
{
    ++peerGeneration_;
    latestDiscoveryInfo_.reset();
    if (waitingRequestsMap_.empty())
        return;
    logger_->log("Router.onChannelReset: failing waiting requests:", waitingRequestsMap_.size());
    // Out of the map first: a completion may send new calls, which wait for the new peer.
    std::map<std::string, ServiceReply> gone;
    gone.swap(waitingRequestsMap_);
    for (auto& [id, callback] : gone)
        callback(Reply::failure(ServiceError::serviceGone()));
}

void Router::onDiscoveryResponse(const Message& message)
{
    if (!message.body)
        return logger_->log("Router.onDiscoveryResponse: received invalid data");
    auto info = ServiceValueHelper::decode<Discovery::Info>(*message.body);
    if (info.isFailure())
        return logger_->log("Router.onDiscoveryResponse: received invalid data");
    latestDiscoveryInfo_ = std::move(info).value();
}

void Router::onResponse(Message message)
{
    const auto found = waitingRequestsMap_.find(message.id);
    if (found == waitingRequestsMap_.end())
        return logger_->error("Router received response without corresponding request:", message);
    ServiceReply callback = std::move(found->second);
    waitingRequestsMap_.erase(found);
    callback(Reply::success(std::move(message.body)));
}

void Router::onError(const Message& message, std::optional<ServiceError> error)
{
    const auto found = waitingRequestsMap_.find(message.id);
    if (found == waitingRequestsMap_.end())
        return logger_->error("Router received error without corresponding request:", message);
    ServiceReply callback = std::move(found->second);
    waitingRequestsMap_.erase(found);
    if (!error) {
        if (!message.body)
            error = ServiceError::badResponse();
        else if (auto decoded = ServiceValueHelper::decode<ServiceError>(*message.body); decoded.isSuccess())
            error = decoded.value();
        else
            error = ServiceError::badResponse();
    }
    callback(Reply::failure(*error));
}

SendFunction Router::sendFunction(std::string serviceId, std::string fingerprint)
{
    return [self = shared_from_this(), serviceId = std::move(serviceId), fingerprint = std::move(fingerprint)](
               const std::string& method, OptionalMessageBody body, ServiceReply completion) {
        self->send(serviceId, fingerprint, method, std::move(body), std::move(completion));
    };
}

void Router::send(const std::string& serviceId, const std::string& fingerprint, const std::string& method,
                  OptionalMessageBody body, ServiceReply completion)
{
    if (!latestDiscoveryInfo_)
        return completion(Reply::failure(ServiceError::serviceNotFound()));
    const auto found = latestDiscoveryInfo_->services.find(serviceId);
    if (found == latestDiscoveryInfo_->services.end())
        return completion(Reply::failure(ServiceError::serviceNotFound()));
    if (found->second.fingerprint != fingerprint)
        return completion(Reply::failure(ServiceError::serviceRequiresUpgrade()));

    std::string id = Uuid::make();
    waitingRequestsMap_.insert_or_assign(id, std::move(completion));
    channel_->postMessage({ServiceChannel::MessageType::request, std::move(id), serviceId, method, std::move(body)});
}

} // namespace kx
