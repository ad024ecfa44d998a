// A weak reference to a GObject (a widget, a web view) that may go away at any time: `lock`
// answers a strong reference while the object lives and nothing afterwards. Usable from any
// thread; copies refer to the same object.
#pragma once

#include <glib-object.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

template <class T>
class WeakObject {
public:
    using Strong = GObjectRef<T>;

    explicit WeakObject(T* object = nullptr) { g_weak_ref_init(&ref_, object); }
    WeakObject(const WeakObject& other) { g_weak_ref_init(&ref_, other.lock().get()); }
    WeakObject& operator=(const WeakObject& other)
    {
        g_weak_ref_set(&ref_, other.lock().get());
        return *this;
    }
    ~WeakObject() { g_weak_ref_clear(&ref_); }

    Strong lock() const { return Strong::adopt(static_cast<T*>(g_weak_ref_get(const_cast<GWeakRef*>(&ref_)))); }
    void reset(T* object = nullptr) { g_weak_ref_set(&ref_, object); }

private:
    GWeakRef ref_;
};

} // namespace kx
