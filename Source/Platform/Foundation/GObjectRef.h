// An owning reference to a GObject (a widget, a web view, a stream): the one place where
// references are taken and dropped. `adopt` takes over a reference the caller already owns
// (a constructor or a "transfer full" getter); `retain` adds one to a borrowed pointer; `sink`
// claims a newly made floating object such as a widget.
#pragma once

#include <cstddef>
#include <utility>

#include <glib-object.h>

namespace kx {

template <class T>
class GObjectRef {
public:
    GObjectRef() = default;
    GObjectRef(std::nullptr_t) { }

    static GObjectRef adopt(T* object)
    {
        GObjectRef ref;
        ref.object_ = object;
        return ref;
    }
    static GObjectRef retain(T* object)
    {
        return adopt(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
    }
    static GObjectRef sink(T* object)
    {
        return adopt(object ? static_cast<T*>(g_object_ref_sink(object)) : nullptr);
    }

    GObjectRef(const GObjectRef& other)
        : object_(other.object_ ? static_cast<T*>(g_object_ref(other.object_)) : nullptr)
    {
    }
    GObjectRef(GObjectRef&& other) noexcept
        : object_(std::exchange(other.object_, nullptr))
    {
    }
    GObjectRef& operator=(GObjectRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectRef() { reset(); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Hands the reference to the caller, who now owns it.
    [[nodiscard]] T* release() { return std::exchange(object_, nullptr); }
    void reset()
    {
        if (T* object = std::exchange(object_, nullptr))
            g_object_unref(object);
    }

    friend bool operator==(const GObjectRef& ref, const T* object) { return ref.object_ == object; }

private:
    T* object_ = nullptr;
};

} // namespace kx
