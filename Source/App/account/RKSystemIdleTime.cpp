#include "App/account/RKSystemIdleTime.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdkx.h>
#endif
#include <gio/gio.h>

#include <string>
#include <utility>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/GObjectRef.h"

namespace kx {

namespace {

enum class Source { none, x11, mutter };

struct State {
    bool started = false;
    Source source = Source::none;
#ifdef GDK_WINDOWING_X11
    XScreenSaverInfo* info = nullptr;
#endif
    GObjectRef<GDBusProxy> mutter;
    std::uint64_t lastMutterMilliseconds = 0;
    bool mutterQueryRunning = false;
};

State& state()
{
    static State value;
    return value;
}

void noSource(const char* why)
{
    state().source = Source::none;
    RKLog(std::string("Idle time is not available (") + why + "); it counts as 0", RKLogKind::general);
}

void askMutter()
{
    auto& s = state();
    if (!s.mutter || s.mutterQueryRunning)
        return;
    s.mutterQueryRunning = true;
    g_dbus_proxy_call(s.mutter.get(), "GetIdletime", nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
                      +[](GObject* proxy, GAsyncResult* result, gpointer) {
                          auto& s = state();
                          s.mutterQueryRunning = false;
                          GError* error = nullptr;
                          GVariant* reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(proxy), result, &error);
                          if (!reply) {
                              g_clear_error(&error);
                              s.mutter = nullptr;
                              noSource("GNOME's idle monitor did not answer");
                              return;
                          }
                          if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(t)")))
                              g_variant_get(reply, "(t)", &s.lastMutterMilliseconds);
                          g_variant_unref(reply);
                      },
                      nullptr);
}

} // namespace

void RKSystemIdleTime::startTracking()
{
    auto& s = state();
    if (std::exchange(s.started, true))
        return;
    GdkDisplay* display = gdk_display_get_default();
#ifdef GDK_WINDOWING_X11
    if (display && GDK_IS_X11_DISPLAY(display)) {
        int eventBase = 0, errorBase = 0;
        if (XScreenSaverQueryExtension(GDK_DISPLAY_XDISPLAY(display), &eventBase, &errorBase)) {
            s.info = XScreenSaverAllocInfo();
            s.source = Source::x11;
            return;
        }
        return noSource("the X server has no screen-saver extension");
    }
#endif
    if (!display)
        return noSource("no display");
    GError* error = nullptr;
    GDBusProxy* proxy = g_dbus_proxy_new_for_bus_sync(
        G_BUS_TYPE_SESSION, GDBusProxyFlags(G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES | G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS
                                            | G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START),
        nullptr, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor",
        nullptr, &error);
    g_clear_error(&error);
    s.mutter = GObjectRef<GDBusProxy>::adopt(proxy);
    char* owner = proxy ? g_dbus_proxy_get_name_owner(proxy) : nullptr;
    if (!owner) {
        s.mutter = nullptr;
        return noSource("no X11 and no GNOME idle monitor");
    }
    g_free(owner);
    s.source = Source::mutter;
    askMutter();
}

std::uint64_t RKSystemIdleTime::secondsIdle()
{
    auto& s = state();
    switch (s.source) {
    case Source::x11: {
#ifdef GDK_WINDOWING_X11
        GdkDisplay* display = gdk_display_get_default();
        if (!display || !GDK_IS_X11_DISPLAY(display) || !s.info)
            return 0;
        Display* x = GDK_DISPLAY_XDISPLAY(display);
        if (!XScreenSaverQueryInfo(x, DefaultRootWindow(x), s.info))
            return 0;
        return s.info->idle / 1000;
#else
        return 0;
#endif
    }
    case Source::mutter:
        askMutter(); // the next reading's
        return s.lastMutterMilliseconds / 1000;
    case Source::none:
        return 0;
    }
    return 0;
}

} // namespace kx
