#include "Platform/Foundation/SignalConnection.h"

namespace kx {

SignalConnection::SignalConnection(gpointer instance, const char* signal, GCallback callback, gpointer data,
                                   GConnectFlags flags)
    : SignalConnection(connectData(instance, signal, callback, data, nullptr, flags))
{
}

SignalConnection SignalConnection::adopt(gpointer instance, gulong handlerId)
{
    SignalConnection connection;
    if (instance && handlerId) {
        g_weak_ref_init(&connection.instance_, instance);
        connection.hasInstance_ = true;
        connection.handlerId_ = handlerId;
    }
    return connection;
}

SignalConnection SignalConnection::connectData(gpointer instance, const char* signal, GCallback callback,
                                               gpointer data, GClosureNotify destroy, GConnectFlags flags)
{
    gulong id = g_signal_connect_data(instance, signal, callback, data, destroy, flags);
    // An unknown signal connects nothing; GLib has already said why, and the closure data was
    // not taken, so it is ours to free.
    if (id == 0 && destroy)
        destroy(data, nullptr);
    return adopt(instance, id);
}

SignalConnection::SignalConnection(SignalConnection&& other) noexcept
{
    *this = std::move(other);
}

SignalConnection& SignalConnection::operator=(SignalConnection&& other) noexcept
{
    if (this == &other)
        return *this;
    disconnect();
    if (other.hasInstance_) {
        GObject* instance = other.lockInstance();
        g_weak_ref_init(&instance_, instance);
        hasInstance_ = true;
        handlerId_ = std::exchange(other.handlerId_, 0);
        if (instance)
            g_object_unref(instance);
        g_weak_ref_clear(&other.instance_);
        other.hasInstance_ = false;
    }
    return *this;
}

GObject* SignalConnection::lockInstance() const
{
    return hasInstance_ ? static_cast<GObject*>(g_weak_ref_get(const_cast<GWeakRef*>(&instance_))) : nullptr;
}

void SignalConnection::disconnect()
{
    if (!hasInstance_)
        return;
    if (GObject* instance = lockInstance()) {
        if (handlerId_ && g_signal_handler_is_connected(instance, handlerId_))
            g_signal_handler_disconnect(instance, handlerId_);
        g_object_unref(instance);
    }
    g_weak_ref_clear(&instance_);
    hasInstance_ = false;
    handlerId_ = 0;
}

void SignalConnection::block()
{
    if (GObject* instance = lockInstance()) {
        g_signal_handler_block(instance, handlerId_);
        g_object_unref(instance);
    }
}

void SignalConnection::unblock()
{
    if (GObject* instance = lockInstance()) {
        g_signal_handler_unblock(instance, handlerId_);
        g_object_unref(instance);
    }
}

} // namespace kx
