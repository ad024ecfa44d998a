// One signal handler on a GObject that disconnects itself when the connection goes. The
// instance is held weakly: a connection outliving its object neither keeps it alive nor
// touches it afterwards.
//
// `connect<Signature>` is the one way a C++ callable becomes a signal handler: the callable is
// copied to the heap, called through one trampoline and freed by the closure's destroy notify,
// whichever of the object and the connection goes first.
//
//     connections_.push_back(SignalConnection::connect<void(WebKitWebView*, WebKitLoadEvent)>(
//         view, "load-changed", [this](WebKitWebView*, WebKitLoadEvent event) { ... }));
#pragma once

#include <type_traits>
#include <utility>

#include <glib-object.h>

namespace kx {

class SignalConnection {
public:
    SignalConnection() = default;
    // Connects `callback` with `data` (which the connection does not own).
    SignalConnection(gpointer instance, const char* signal, GCallback callback, gpointer data,
                     GConnectFlags flags = GConnectFlags(0));
    // Takes charge of a handler already connected to `instance`.
    static SignalConnection adopt(gpointer instance, gulong handlerId);

    template <class Signature, class Callable>
    static SignalConnection connect(gpointer instance, const char* signal, Callable&& callable,
                                    GConnectFlags flags = GConnectFlags(0));

    SignalConnection(SignalConnection&& other) noexcept;
    SignalConnection& operator=(SignalConnection&& other) noexcept;
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    ~SignalConnection() { disconnect(); }

    // Removes the handler if its object still lives. Idempotent.
    void disconnect();
    bool isConnected() const { return handlerId_ != 0; }
    gulong handlerId() const { return handlerId_; }
    void block();
    void unblock();

private:
    template <class Signature>
    struct Trampoline;

    static SignalConnection connectData(gpointer instance, const char* signal, GCallback callback, gpointer data,
                                        GClosureNotify destroy, GConnectFlags flags);
    GObject* lockInstance() const;

    GWeakRef instance_ { };
    bool hasInstance_ = false;
    gulong handlerId_ = 0;
};

template <class Result, class... Args>
struct SignalConnection::Trampoline<Result(Args...)> {
    template <class Callable>
    static Result call(Args... args, gpointer data)
    {
        return (*static_cast<Callable*>(data))(args...);
    }
    template <class Callable>
    static void destroy(gpointer data, GClosure*)
    {
        delete static_cast<Callable*>(data);
    }
};

template <class Signature, class Callable>
SignalConnection SignalConnection::connect(gpointer instance, const char* signal, Callable&& callable,
                                           GConnectFlags flags)
{
    using Stored = std::decay_t<Callable>;
    using T = Trampoline<Signature>;
    auto* stored = new Stored(std::forward<Callable>(callable));
    return connectData(instance, signal, reinterpret_cast<GCallback>(&T::template call<Stored>), stored,
                       &T::template destroy<Stored>, flags);
}

} // namespace kx
