#include "Platform/UI/GraphicsDriverPreload.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>

namespace kx {

namespace {

// EGL's own names, declared here: the library is opened at run time, so that a machine
// without it starts as before.
constexpr unsigned platformSurfacelessMesa = 0x31DD; // EGL_PLATFORM_SURFACELESS_MESA
using GetPlatformDisplay = void* (*)(unsigned platform, void* nativeDisplay, const intptr_t* attributes);
using Initialize = unsigned (*)(void* display, int* major, int* minor);
using Terminate = unsigned (*)(void* display);
using ReleaseThread = unsigned (*)();

void preload(std::vector<std::string>& kept)
{
    const std::set<std::string> before = GraphicsDriverPreload::loadedLibraries();
    // Never closed: WebKit links the library, so it stays in the process in any case.
    void* egl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!egl)
        return;
    auto getPlatformDisplay = reinterpret_cast<GetPlatformDisplay>(dlsym(egl, "eglGetPlatformDisplay"));
    auto initialize = reinterpret_cast<Initialize>(dlsym(egl, "eglInitialize"));
    auto terminate = reinterpret_cast<Terminate>(dlsym(egl, "eglTerminate"));
    auto releaseThread = reinterpret_cast<ReleaseThread>(dlsym(egl, "eglReleaseThread"));
    if (!getPlatformDisplay || !initialize || !terminate || !releaseThread)
        return;
    if (void* display = getPlatformDisplay(platformSurfacelessMesa, nullptr, nullptr)) {
        if (initialize(display, nullptr, nullptr)) {
            // Closing the display unloads its driver unless something else holds it: each
            // library the display brought is opened once more, and never closed.
            for (const std::string& name : GraphicsDriverPreload::loadedLibraries()) {
                if (!before.count(name) && dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD))
                    kept.push_back(name);
            }
            terminate(display);
        }
    }
    releaseThread();
}

} // namespace

std::set<std::string> GraphicsDriverPreload::loadedLibraries()
{
    std::set<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && info->dlpi_name[0])
                static_cast<std::set<std::string>*>(data)->insert(info->dlpi_name);
            return 0;
        },
        &names);
    return names;
}

GraphicsDriverPreload::GraphicsDriverPreload()
    : thread_([this] { preload(kept_); })
{
}

GraphicsDriverPreload::~GraphicsDriverPreload()
{
    wait();
}

void GraphicsDriverPreload::wait()
{
    if (thread_.joinable())
        thread_.join();
}

} // namespace kx
