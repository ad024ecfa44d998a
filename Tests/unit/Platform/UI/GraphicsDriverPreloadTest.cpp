#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Platform/UI/GraphicsDriverPreload.h"
#include "support/Spin.h"

namespace {

// Opens and closes a surfaceless EGL display as WebKit opens its own, on this thread; false
// when the machine offers none.
bool openAndCloseADisplay()
{
    void* egl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!egl)
        return false;
    auto getPlatformDisplay = reinterpret_cast<void* (*)(unsigned, void*, const intptr_t*)>(dlsym(egl, "eglGetPlatformDisplay"));
    auto initialize = reinterpret_cast<unsigned (*)(void*, int*, int*)>(dlsym(egl, "eglInitialize"));
    auto terminate = reinterpret_cast<unsigned (*)(void*)>(dlsym(egl, "eglTerminate"));
    void* display = getPlatformDisplay ? getPlatformDisplay(0x31DD, nullptr, nullptr) : nullptr;
    const bool opened = display && initialize(display, nullptr, nullptr);
    if (opened)
        terminate(display);
    return opened;
}

} // namespace

TEST(GraphicsDriverPreload, TheDriverStaysLoadedSoThatTheNextDisplayLoadsNothing)
{
    kx::GraphicsDriverPreload preload;
    preload.wait();
    const std::set<std::string> afterPreload = kx::GraphicsDriverPreload::loadedLibraries();
    for (const std::string& name : preload.keptLibraries()) {
        EXPECT_TRUE(afterPreload.count(name)) << name << " was unloaded when the preload's display closed";
    }
    if (!openAndCloseADisplay())
        GTEST_SKIP() << "this machine offers no surfaceless EGL display";
    EXPECT_FALSE(preload.keptLibraries().empty());
    std::set<std::string> added;
    for (const std::string& name : kx::GraphicsDriverPreload::loadedLibraries()) {
        if (!afterPreload.count(name))
            added.insert(name);
    }
    EXPECT_TRUE(added.empty()) << "a display opened after the preload still loaded " << *added.begin();
}

TEST(GraphicsDriverPreload, AProcessMayEndWhileTheDriverIsStillLoading)
{
    using kxtest::threadCount;
    const std::size_t threads = threadCount();
    // Each is dropped at once: its destructor waits for the thread, never leaves it running.
    for (int i = 0; i < 3; ++i)
        kx::GraphicsDriverPreload preload;
    EXPECT_TRUE(kxtest::spinUntil([&] { return threadCount() <= threads; })) << "a dropped preload left its thread running";
    kx::GraphicsDriverPreload waited;
    waited.wait();
    EXPECT_TRUE(kxtest::spinUntil([&] { return threadCount() <= threads; })) << threadCount() << " threads, more than " << threads;
    const std::vector<std::string> kept = waited.keptLibraries();
    waited.wait(); // a second wait finds nothing to wait for
    EXPECT_EQ(waited.keptLibraries(), kept);
}
