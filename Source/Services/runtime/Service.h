// What the runtime needs of a service definition, and the shared machinery of the generated
// wrappers. A definition names its interface (an abstract class of asynchronous methods), its
// wire id ("__<Name>__") and fingerprint, and makes:
// - the incoming handler, which serves a page's request with a native implementation: it picks
//   the method by exact name, reads the argument, calls the implementation and turns its
//   completion into the reply (badRequest for an unknown method or an unreadable argument);
// - the outgoing wrapper, an implementation of the interface that sends each call to the page
//   through the router's send function and reads the reply (badResponse when it does not fit).
#pragma once

#include <array>
#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Services/runtime/Result.h"
#include "Services/runtime/ServiceChannel.h"
#include "Services/runtime/ServiceError.h"
#include "Services/runtime/ServiceValueHelper.h"

namespace kx {

using OptionalMessageBody = ServiceChannel::OptionalBody;
// The reply to one request at the level of messages: a body (or none), or a ServiceError.
using ServiceReply = std::function<void(Result<OptionalMessageBody, ServiceError>)>;
// Serves one request: method name, optional argument body, reply (called once).
using IncomingHandler = std::function<void(const std::string& method, const OptionalMessageBody& body, ServiceReply reply)>;
// Sends one call to the peer: method name, optional argument body, completion (called once).
using SendFunction = std::function<void(const std::string& method, OptionalMessageBody body, ServiceReply completion)>;
// The completion of a typed method; Unit for methods without result.
template <class T>
using CompletionHandler = std::function<void(Result<T, ServiceError>)>;

template <class S>
concept Service = requires(const S& service, std::shared_ptr<typename S::Interface> implementation, SendFunction send) {
    typename S::Interface;
    { service.id } -> std::convertible_to<std::string>;
    { service.fingerprint } -> std::convertible_to<std::string>;
    { service.newIncomingWrapper(implementation) } -> std::same_as<IncomingHandler>;
    { service.newOutgoingWrapper(send) } -> std::same_as<std::shared_ptr<typename S::Interface>>;
};

namespace service_detail {

template <class T>
struct IsOptionalArgument : std::false_type {};
template <class T>
struct IsOptionalArgument<std::optional<T>> : std::true_type {};

// The reply for a typed completion: no body for Unit, else the encoded result.
template <class R>
CompletionHandler<R> replyWith(ServiceReply reply)
{
    return [reply = std::move(reply)](Result<R, ServiceError> result) {
        if (result.isFailure())
            return reply(Result<OptionalMessageBody, ServiceError>::failure(result.error()));
        if constexpr (std::is_same_v<R, Unit>)
            reply(Result<OptionalMessageBody, ServiceError>::success(std::nullopt));
        else
            reply(Result<OptionalMessageBody, ServiceError>::success(ServiceValueHelper::toMessageBody(result.value())));
    };
}

template <auto M>
struct Incoming;

// A method without argument ignores any body that comes along.
template <class I, class R, void (I::*M)(CompletionHandler<R>)>
struct Incoming<M> {
    static void call(I& implementation, const OptionalMessageBody&, ServiceReply reply)
    {
        (implementation.*M)(replyWith<R>(std::move(reply)));
    }
};

// A required argument must come and must read; an optional one may be missing, but a body
// that is there must read.
template <class I, class A, class R, void (I::*M)(A, CompletionHandler<R>)>
struct Incoming<M> {
    static void call(I& implementation, const OptionalMessageBody& body, ServiceReply reply)
    {
        if constexpr (IsOptionalArgument<A>::value) {
            if (!body)
                return (implementation.*M)(std::nullopt, replyWith<R>(std::move(reply)));
            auto argument = ServiceValueHelper::decode<typename A::value_type>(*body);
            if (argument.isFailure())
                return reply(Result<OptionalMessageBody, ServiceError>::failure(ServiceError::badRequest()));
            (implementation.*M)(A(std::move(argument).value()), replyWith<R>(std::move(reply)));
        } else {
            if (!body)
                return reply(Result<OptionalMessageBody, ServiceError>::failure(ServiceError::badRequest()));
            auto argument = ServiceValueHelper::decode<A>(*body);
            if (argument.isFailure())
                return reply(Result<OptionalMessageBody, ServiceError>::failure(ServiceError::badRequest()));
            (implementation.*M)(std::move(argument).value(), replyWith<R>(std::move(reply)));
        }
    }
};

} // namespace service_detail

template <class I>
struct IncomingMethod {
    std::string_view name;
    void (*call)(I&, const OptionalMessageBody&, ServiceReply);
};

namespace service_detail {
template <class I, class... Args>
constexpr I* interfaceOf(void (I::*)(Args...))
{
    return nullptr;
}
} // namespace service_detail

// One entry of an incoming handler's table: the wire name and the interface method.
template <auto M>
constexpr auto incomingMethod(std::string_view name)
{
    using I = std::remove_pointer_t<decltype(service_detail::interfaceOf(M))>;
    return IncomingMethod<I>{name, &service_detail::Incoming<M>::call};
}

// The incoming handler over a table of methods; it holds the implementation strongly.
template <class I>
IncomingHandler makeIncomingHandler(std::shared_ptr<I> implementation, std::vector<IncomingMethod<I>> methods)
{
    return [implementation = std::move(implementation), methods = std::move(methods)](
               const std::string& method, const OptionalMessageBody& body, ServiceReply reply) {
        for (const auto& entry : methods) {
            if (entry.name == method)
                return entry.call(*implementation, body, std::move(reply));
        }
        reply(Result<OptionalMessageBody, ServiceError>::failure(ServiceError::badRequest()));
    };
}

// An outgoing call: encodes the argument (none for std::nullopt), sends, and reads the reply.
// A method without result succeeds whatever body comes back; one with a result needs a body
// that reads as R.
template <class R>
void sendOutgoing(const SendFunction& helper, const std::string& method, OptionalMessageBody body,
                  CompletionHandler<R> completionHandler)
{
    helper(method, std::move(body), [completionHandler = std::move(completionHandler)](Result<OptionalMessageBody, ServiceError> reply) {
        if (reply.isFailure())
            return completionHandler(Result<R, ServiceError>::failure(reply.error()));
        if constexpr (std::is_same_v<R, Unit>) {
            completionHandler(Result<Unit, ServiceError>::success(Unit{}));
        } else {
            if (!reply.value())
                return completionHandler(Result<R, ServiceError>::failure(ServiceError::badResponse()));
            auto decoded = ServiceValueHelper::decode<R>(*reply.value());
            if (decoded.isFailure())
                return completionHandler(Result<R, ServiceError>::failure(ServiceError::badResponse()));
            completionHandler(Result<R, ServiceError>::success(std::move(decoded).value()));
        }
    });
}

template <ServiceValue A>
OptionalMessageBody outgoingBody(const A& argument)
{
    return ServiceValueHelper::toMessageBody(argument);
}

template <ServiceValue A>
OptionalMessageBody outgoingBody(const std::optional<A>& argument)
{
    if (!argument)
        return std::nullopt;
    return ServiceValueHelper::toMessageBody(*argument);
}

// What every outgoing wrapper holds: the router's send function.
template <class I>
class OutgoingWrapperBase : public I {
public:
    explicit OutgoingWrapperBase(SendFunction helper)
        : helper(std::move(helper))
    {
    }

protected:
    SendFunction helper;
};

template <class Wrapper, class I>
std::shared_ptr<I> makeOutgoingWrapper(SendFunction helper)
{
    return std::make_shared<Wrapper>(std::move(helper));
}

// The interface of a service whose methods are not fixed on the native side.
class MethodlessInterface {
public:
    virtual ~MethodlessInterface() = default;
};

// One service definition: its wire id and fingerprint, the table of its incoming methods and
// the maker of its outgoing wrapper. A service without methods answers every request
// badRequest, and its outgoing wrapper offers nothing to call.
template <class InterfaceType>
class GeneratedService {
public:
    using Interface = InterfaceType;
    using OutgoingMaker = std::shared_ptr<Interface> (*)(SendFunction);

    GeneratedService(std::string id, std::string fingerprint, std::vector<IncomingMethod<Interface>> methods = {},
                     OutgoingMaker makeOutgoing = &makeOutgoingWrapper<OutgoingWrapperBase<Interface>, Interface>)
        : id(std::move(id))
        , fingerprint(std::move(fingerprint))
        , methods_(std::move(methods))
        , makeOutgoing_(makeOutgoing)
    {
    }

    const std::string id;
    const std::string fingerprint;

    IncomingHandler newIncomingWrapper(std::shared_ptr<Interface> implementation) const
    {
        return makeIncomingHandler(std::move(implementation), methods_);
    }

    std::shared_ptr<Interface> newOutgoingWrapper(SendFunction helper) const { return makeOutgoing_(std::move(helper)); }

private:
    std::vector<IncomingMethod<Interface>> methods_;
    OutgoingMaker makeOutgoing_;
};

} // namespace kx
