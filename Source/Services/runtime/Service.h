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

#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/OrderedDelivery.h"
#include "Platform/Foundation/ThreadPool.h"
#include "Services/runtime/Result.h"
#include "Services/runtime/ServiceChannel.h"
#include "Services/runtime/ServiceError.h"
#include "Services/runtime/ServiceRecord.h"
#include "Services/runtime/ServiceValueHelper.h"
#include "Services/runtime/UnsafeJSON.h"

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

// Whether a value of T may hold a whole document (UnsafeJSON, a dynamic JSON value), and so
// megabytes whose encoding would stall the main loop.
// Types that hold themselves are looked into this deep, and held to hold one below that.
template <class T, int Depth = 6>
struct HoldsDocument;

template <class T, int Depth = 6>
inline constexpr bool holdsDocument = HoldsDocument<T, Depth>::value;

template <int Depth, class Owner, class Member>
constexpr bool fieldHoldsDocument(const Field<Owner, Member>*)
{
    return holdsDocument<Member, Depth>;
}

template <class T, int Depth>
struct HoldsDocument {
    static constexpr bool compute()
    {
        constexpr int next = Depth - 1;
        if constexpr (std::is_same_v<T, UnsafeJSON> || std::is_same_v<T, nlohmann::json>)
            return true;
        else if constexpr (std::is_same_v<T, std::string> || std::is_arithmetic_v<T> || std::is_enum_v<T>)
            return false;
        else if constexpr (Depth <= 0)
            return true;
        else if constexpr (json_detail::IsOptional<T>::value)
            return holdsDocument<typename json_detail::IsOptional<T>::Inner, next>;
        else if constexpr (json_detail::IsVariant<T>::value)
            return []<class... C>(std::type_identity<std::variant<C...>>) { return (holdsDocument<C, next> || ...); }(std::type_identity<T>{});
        else if constexpr (json_detail::TaggedUnion<T> || json_detail::UntaggedUnion<T>)
            return holdsDocument<decltype(std::declval<T>().value), next>;
        else if constexpr (json_detail::Record<T>)
            return std::apply([](const auto&... field) { return (fieldHoldsDocument<next>(&field) || ... || false); }, T::fields());
        else if constexpr (requires { typename T::key_type; typename T::mapped_type; })
            return holdsDocument<typename T::mapped_type, next>;
        else if constexpr (requires { typename T::value_type; std::declval<T>().begin(); })
            return holdsDocument<typename T::value_type, next>;
        else
            return false;
    }
    static constexpr bool value = compute();
};

// The reply for a typed completion: no body for Unit, else the encoded result. A result that
// may hold a document is encoded (and freed) on a worker, and the reply goes from the main
// thread. The result is taken by reference, not moved into a parameter of its own: GCC 12 at
// -O3 takes the error read out of such a moved variant for uninitialised.
template <class R>
CompletionHandler<R> replyWith(ServiceReply reply)
{
    if constexpr (holdsDocument<R>) {
        return [reply = std::move(reply)](Result<R, ServiceError>&& result) {
            if (result.isFailure())
                return reply(Result<OptionalMessageBody, ServiceError>::failure(result.error()));
            auto value = std::make_shared<R>(std::move(result).value());
            ThreadPool::global().async([reply = std::move(reply), value = std::move(value)]() mutable {
                auto body = std::make_shared<OptionalMessageBody>(ServiceValueHelper::toMessageBody(*value));
                value.reset();
                MainQueue::async([reply = std::move(reply), body = std::move(body)] {
                    reply(Result<OptionalMessageBody, ServiceError>::success(std::move(*body)));
                });
            });
        };
    } else {
        return [reply = std::move(reply)](Result<R, ServiceError>&& result) {
            if (result.isFailure())
                return reply(Result<OptionalMessageBody, ServiceError>::failure(result.error()));
            if constexpr (std::is_same_v<R, Unit>)
                reply(Result<OptionalMessageBody, ServiceError>::success(std::nullopt));
            else
                reply(Result<OptionalMessageBody, ServiceError>::success(ServiceValueHelper::toMessageBody(result.value())));
        };
    }
}

// A request whose argument has been read: the call to make on the main thread.
template <class I>
using PreparedCall = std::function<void(I&, ServiceReply)>;

template <auto M>
struct Incoming;

// A method without argument ignores any body that comes along.
template <class I, class R, void (I::*M)(CompletionHandler<R>)>
struct Incoming<M> {
    static PreparedCall<I> prepare(const OptionalMessageBody&)
    {
        return [](I& implementation, ServiceReply reply) { (implementation.*M)(replyWith<R>(std::move(reply))); };
    }
};

// A required argument must come and must read; an optional one may be missing, but a body
// that is there must read. Reading touches nothing but the body, so it may run on any thread.
template <class I, class A, class R, void (I::*M)(A, CompletionHandler<R>)>
struct Incoming<M> {
    static PreparedCall<I> refuse()
    {
        return [](I&, ServiceReply reply) { reply(Result<OptionalMessageBody, ServiceError>::failure(ServiceError::badRequest())); };
    }
    static PreparedCall<I> prepare(const OptionalMessageBody& body)
    {
        if constexpr (IsOptionalArgument<A>::value) {
            if (!body)
                return [](I& implementation, ServiceReply reply) { (implementation.*M)(std::nullopt, replyWith<R>(std::move(reply))); };
            auto argument = ServiceValueHelper::decode<typename A::value_type>(*body);
            if (argument.isFailure())
                return refuse();
            auto value = std::make_shared<A>(std::move(argument).value());
            return [value](I& implementation, ServiceReply reply) { (implementation.*M)(std::move(*value), replyWith<R>(std::move(reply))); };
        } else {
            if (!body)
                return refuse();
            auto argument = ServiceValueHelper::decode<A>(*body);
            if (argument.isFailure())
                return refuse();
            auto value = std::make_shared<A>(std::move(argument).value());
            return [value](I& implementation, ServiceReply reply) { (implementation.*M)(std::move(*value), replyWith<R>(std::move(reply))); };
        }
    }
};

} // namespace service_detail

template <class I>
struct IncomingMethod {
    std::string_view name;
    service_detail::PreparedCall<I> (*prepare)(const OptionalMessageBody&);
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
    return IncomingMethod<I>{name, &service_detail::Incoming<M>::prepare};
}

// From this size on, a request's argument is read on a worker.
inline constexpr std::size_t largeIncomingBodySize = 64 * 1024;

// The incoming handler over a table of methods; it holds the implementation strongly. The
// implementation hears the requests in the order they came, on the main thread; a large
// argument is read on a worker meanwhile, and the requests after it wait for it.
template <class I>
IncomingHandler makeIncomingHandler(std::shared_ptr<I> implementation, std::vector<IncomingMethod<I>> methods)
{
    return [implementation = std::move(implementation), methods = std::move(methods), order = OrderedDelivery::make()](
               const std::string& method, const OptionalMessageBody& body, ServiceReply reply) {
        using Prepare = service_detail::PreparedCall<I> (*)(const OptionalMessageBody&);
        Prepare prepare = nullptr;
        for (const auto& entry : methods) {
            if (entry.name == method) {
                prepare = entry.prepare;
                break;
            }
        }
        if (!prepare) {
            return order->then([reply = std::move(reply)] {
                reply(Result<OptionalMessageBody, ServiceError>::failure(ServiceError::badRequest()));
            });
        }
        if (body && body->json.size() >= largeIncomingBodySize) {
            return order->async([prepare, body = OptionalMessageBody(body), implementation, reply = std::move(reply)]() mutable -> OrderedDelivery::Deliver {
                auto call = prepare(body);
                body.reset();
                return [call = std::move(call), implementation, reply = std::move(reply)] { call(*implementation, reply); };
            });
        }
        order->then([call = prepare(body), implementation, reply = std::move(reply)] { call(*implementation, reply); });
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
