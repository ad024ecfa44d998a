// A GLib main-loop source (a timeout, an idle callback, a watch) that is removed when its
// handle goes. Safe whether or not the source has already run out: a finished source is
// simply let go. For work that merely runs later, MainQueue is the simpler tool; this is for
// sources made by GLib or GIO calls that hand back a GSource or a source id.
#pragma once

#include <utility>

#include <glib.h>

namespace kx {

class SourceHandle {
public:
    SourceHandle() = default;
    // Takes over the caller's reference to `source` (attached or not).
    static SourceHandle adopt(GSource* source)
    {
        SourceHandle handle;
        handle.source_ = source;
        return handle;
    }
    // Refers to a source attached to the default main context by id (g_timeout_add and kin).
    static SourceHandle fromId(guint id)
    {
        GSource* source = id ? g_main_context_find_source_by_id(nullptr, id) : nullptr;
        return adopt(source ? g_source_ref(source) : nullptr);
    }

    SourceHandle(SourceHandle&& other) noexcept
        : source_(std::exchange(other.source_, nullptr))
    {
    }
    SourceHandle& operator=(SourceHandle&& other) noexcept
    {
        if (this != &other) {
            remove();
            source_ = std::exchange(other.source_, nullptr);
        }
        return *this;
    }
    SourceHandle(const SourceHandle&) = delete;
    SourceHandle& operator=(const SourceHandle&) = delete;
    ~SourceHandle() { remove(); }

    // Stops the source if it has not finished and lets it go. Idempotent.
    void remove()
    {
        if (GSource* source = std::exchange(source_, nullptr)) {
            g_source_destroy(source);
            g_source_unref(source);
        }
    }
    bool isActive() const { return source_ && !g_source_is_destroyed(source_); }
    GSource* get() const { return source_; }

private:
    GSource* source_ = nullptr;
};

} // namespace kx
