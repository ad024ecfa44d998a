// Each service's methods are listed once, in one macro next to its value types (the lines of
// the real macro end in backslashes):
//
//   #define KX_FeedbackService_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)
//       WITH_ARGUMENT(getThreads, GetThreadsRequest, GetThreadsResponse)
//       WITHOUT_ARGUMENT(fetchReadme, FetchReadmeResponse)
//
// An entry names the method, which is also its wire name, its argument type (std::optional<T>
// when the caller may leave it out) and its result type (Unit when there is none), in interface
// order. From that one list:
// - KX_SERVICE_INTERFACE(METHODS), in the service's header, declares `Interface` (one pure
//   virtual method per entry, completing through its last parameter), `Service` and `service()`;
// - KX_SERVICE_DEFINITION(Name, fingerprint), in a source file inside namespace kx, defines the
//   outgoing wrapper, the incoming table and the singleton with the id "__<Name>__".
// Both wrappers are the generic ones of Services/runtime/Service.h; the list only binds names
// and types to them, so a method cannot be served under one name and called under another.
#pragma once

#include <optional>
#include <utility>

#include "Services/runtime/Service.h"

#define KX_INTERFACE_METHOD_(name, Argument, Result)                                                \
    virtual void name(Argument value, ::kx::CompletionHandler<Result> completionHandler) = 0;
#define KX_INTERFACE_METHOD_WITHOUT_ARGUMENT_(name, Result)                                         \
    virtual void name(::kx::CompletionHandler<Result> completionHandler) = 0;

#define KX_SERVICE_INTERFACE(METHODS)                                                               \
    class Interface {                                                                               \
    public:                                                                                         \
        virtual ~Interface() = default;                                                             \
        METHODS(KX_INTERFACE_METHOD_, KX_INTERFACE_METHOD_WITHOUT_ARGUMENT_)                        \
    };                                                                                              \
    using Service = ::kx::GeneratedService<Interface>;                                              \
    const Service& service();

#define KX_OUTGOING_METHOD_(name, Argument, Result)                                                 \
    void name(Argument value, ::kx::CompletionHandler<Result> completionHandler) override            \
    {                                                                                               \
        ::kx::sendOutgoing<Result>(helper, #name, ::kx::outgoingBody(value), std::move(completionHandler)); \
    }
#define KX_OUTGOING_METHOD_WITHOUT_ARGUMENT_(name, Result)                                          \
    void name(::kx::CompletionHandler<Result> completionHandler) override                           \
    {                                                                                               \
        ::kx::sendOutgoing<Result>(helper, #name, std::nullopt, std::move(completionHandler));       \
    }

#define KX_INCOMING_METHOD_(name, Argument, Result) ::kx::incomingMethod<&Interface::name>(#name),
#define KX_INCOMING_METHOD_WITHOUT_ARGUMENT_(name, Result) ::kx::incomingMethod<&Interface::name>(#name),

#define KX_SERVICE_DEFINITION(Name, fingerprint)                                                    \
    namespace Name {                                                                                \
    namespace {                                                                                     \
    class OutgoingWrapper final : public ::kx::OutgoingWrapperBase<Interface> {                     \
    public:                                                                                         \
        using OutgoingWrapperBase::OutgoingWrapperBase;                                             \
        KX_##Name##_METHODS(KX_OUTGOING_METHOD_, KX_OUTGOING_METHOD_WITHOUT_ARGUMENT_)              \
    };                                                                                              \
    }                                                                                               \
    /* Made once, on first use, and kept for the whole run. */                                      \
    const Service& service()                                                                        \
    {                                                                                               \
        static const Service instance(                                                              \
            "__" #Name "__", fingerprint,                                                           \
            {KX_##Name##_METHODS(KX_INCOMING_METHOD_, KX_INCOMING_METHOD_WITHOUT_ARGUMENT_)},       \
            &::kx::makeOutgoingWrapper<OutgoingWrapper, Interface>);                                \
        return instance;                                                                            \
    }                                                                                               \
    }
