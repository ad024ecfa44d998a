#include "App/application/Relaunch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gio/gio.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <vector>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::optional<ApplicationsFolder::DiskImage>& namedImage()
{
    static std::optional<ApplicationsFolder::DiskImage> image;
    return image;
}

void newSession(gpointer)
{
    ::setsid();
}

bool nameHasOwner(GDBusConnection* bus, const std::string& name)
{
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                  "NameHasOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    if (!reply)
        return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

// Unmounts each file system of the image in turn (an unmounted one only answers with an
// error, which is fine), then deletes the loop device.
struct Detach {
    GObjectRef<GDBusConnection> bus;
    std::vector<std::string> unmount;
    std::string loop;
};

void detachStep(std::shared_ptr<Detach> detach)
{
    std::string path;
    const char* interface = "org.freedesktop.UDisks2.Filesystem";
    const char* method = "Unmount";
    if (!detach->unmount.empty()) {
        path = detach->unmount.back();
        detach->unmount.pop_back();
    } else if (!detach->loop.empty()) {
        path = std::exchange(detach->loop, std::string());
        interface = "org.freedesktop.UDisks2.Loop";
        method = "Delete";
    } else {
        return;
    }
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    auto* next = new std::shared_ptr<Detach>(detach);
    const bool deleting = std::strcmp(method, "Delete") == 0;
    g_dbus_connection_call(detach->bus.get(), "org.freedesktop.UDisks2", path.c_str(), interface, method,
                           g_variant_new("(a{sv})", &options), nullptr, G_DBUS_CALL_FLAGS_NONE, 30000, nullptr,
                           deleting ? +[](GObject* source, GAsyncResult* result, gpointer data) {
                               std::unique_ptr<std::shared_ptr<Detach>> owned(static_cast<std::shared_ptr<Detach>*>(data));
                               GError* error = nullptr;
                               if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error))
                                   g_variant_unref(reply);
                               RKLog(error ? std::string("The disk image was not detached: ") + error->message
                                           : std::string("Detached the disk image"), RKLogKind::general);
                               g_clear_error(&error);
                           }
                                    : +[](GObject* source, GAsyncResult* result, gpointer data) {
                                          std::unique_ptr<std::shared_ptr<Detach>> owned(static_cast<std::shared_ptr<Detach>*>(data));
                                          GError* error = nullptr;
                                          if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error))
                                              g_variant_unref(reply);
                                          g_clear_error(&error);
                                          detachStep(*owned);
                                      },
                           next);
}

} // namespace

bool Relaunch::start(const fs::path& executable, const std::optional<ApplicationsFolder::DiskImage>& image)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    auto launcher = GObjectRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
    g_subprocess_launcher_take_fd(launcher.get(), ends[0], 3);
    g_subprocess_launcher_setenv(launcher.get(), waitVariable, "3", TRUE);
    if (image)
        g_subprocess_launcher_setenv(launcher.get(), detachVariable, (image->device + "\n" + image->backingFile.string()).c_str(), TRUE);
    else
        g_subprocess_launcher_unsetenv(launcher.get(), detachVariable);
    g_subprocess_launcher_set_child_setup(launcher.get(), newSession, nullptr, nullptr);
    GError* error = nullptr;
    const char* argv[] = {executable.c_str(), nullptr};
    auto process = GObjectRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), argv, &error));
    if (!process) {
        RKLog(std::string("The moved application could not be started: ") + (error ? error->message : ""), RKLogKind::general);
        g_clear_error(&error);
        ::close(ends[1]);
        return false;
    }
    // The write end ends[1] stays open (close-on-exec, so no other child holds it) until this
    // process ends: then the new copy reads the pipe's end.
    return true;
}

void Relaunch::waitForPredecessor(const std::string& applicationId, double timeout)
{
    if (const char* detach = std::getenv(detachVariable)) {
        const std::string text = detach;
        const auto newline = text.find('\n');
        if (newline != std::string::npos && text.rfind("/dev/loop", 0) == 0 && text.size() > newline + 1 && text[newline + 1] == '/')
            namedImage() = ApplicationsFolder::DiskImage{text.substr(0, newline), text.substr(newline + 1)};
        ::unsetenv(detachVariable);
    }
    const char* variable = std::getenv(waitVariable);
    if (!variable)
        return;
    const int fd = std::atoi(variable);
    ::unsetenv(waitVariable);
    if (fd < 3 || ::fcntl(fd, F_GETFD) < 0)
        return;
    // The end of the pipe: every writer, that is the old process, is gone.
    char buffer[64];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR))
            break;
    }
    ::close(fd);
    // The bus may take a moment longer to let go of the old process's name. (Without a session
    // bus there is no name to wait for, and none is started here.)
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const auto bus = GObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (nameHasOwner(bus.get(), applicationId) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

std::optional<ApplicationsFolder::DiskImage> Relaunch::pendingDiskImage()
{
    return namedImage();
}

void Relaunch::detachDiskImageLater()
{
    if (!namedImage())
        return;
    MainQueue::after(std::chrono::seconds(5), [] {
        const auto image = std::exchange(namedImage(), std::nullopt);
        const std::string device = image->device.substr(5); // "loop3"
        auto backing = FileSystem::readFile(fs::path("/sys/block") / device / "loop" / "backing_file");
        while (backing && !backing->empty() && backing->back() == '\n')
            backing->pop_back();
        if (!backing || fs::path(*backing) != image->backingFile) {
            RKLog("The disk image was not detached: " + image->device + " holds another image now", RKLogKind::general);
            return;
        }
        auto detach = std::make_shared<Detach>();
        detach->bus = GObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
        if (!detach->bus) {
            RKLog("The disk image was not detached: no system bus", RKLogKind::general);
            return;
        }
        const std::string base = "/org/freedesktop/UDisks2/block_devices/";
        detach->unmount.push_back(base + device);
        std::error_code error;
        for (fs::directory_iterator it(fs::path("/sys/block") / device, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(device + "p", 0) == 0)
                detach->unmount.push_back(base + name);
        }
        detach->loop = base + device;
        detachStep(detach);
    });
}

} // namespace kx
