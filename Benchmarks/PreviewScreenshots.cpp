// Pictures of the preview window with each stand-in device, for a person to look at (nothing
// here is checked: it is no test), written to the folder that KX_PREVIEW_SCREENSHOTS names.
// Made with the window tests' preview fixture; run it through Benchmarks/preview-screenshots.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "gui/App/preview/PreviewFixture.h"

namespace {

using kxtest::json;
using kxtest::previewTimeout;
using kxtest::spinUntil;

class PreviewScreenshots : public kxtest::PreviewFixture {
protected:
    void SetUp() override
    {
        const char* folder = std::getenv("KX_PREVIEW_SCREENSHOTS");
        ASSERT_TRUE(folder && *folder) << "KX_PREVIEW_SCREENSHOTS names no folder";
        output = folder;
        std::filesystem::create_directories(output);
        PreviewFixture::SetUp();
    }

    // Waits until the page shows `frame` with its images loaded and the window has painted it.
    void waitForPicture(const std::string& name)
    {
        const std::string ready = "(() => { const h = document.querySelector('#screen h1');"
                                  " const images = [...document.querySelectorAll('#stage img')].filter(i => !i.hidden);"
                                  " return !!h && h.textContent === " + json(name).dump() +
                                  " && images.every(i => i.complete && i.naturalWidth > 0); })()";
        ASSERT_TRUE(spinUntil([&] { return evaluateInPage(ready) == true; }, previewTimeout)) << name;
        // The page draws a few frames after it laid out the picture...
        evaluateInPage("window.kxFrames = 0; (function tick() { if (++window.kxFrames < 5) requestAnimationFrame(tick); })(); true");
        ASSERT_TRUE(spinUntil([&] { return evaluateInPage("window.kxFrames") == 5; }, previewTimeout));
        GdkFrameClock* clock = gtk_widget_get_frame_clock(controller->window()->widget());
        ASSERT_TRUE(clock);
        int paints = 0;
        auto painted = kx::SignalConnection::connect<void(GdkFrameClock*)>(clock, "after-paint",
                                                                         [&](GdkFrameClock*) { ++paints; });
        // ...and the window shows what the web process drew.
        for (int frame = 1; frame <= 3; ++frame) {
            gtk_widget_queue_draw(controller->window()->widget());
            ASSERT_TRUE(spinUntil([&] { return paints >= frame; }, previewTimeout));
        }
    }

    void save(const std::string& file, bool wholeScreen)
    {
        GdkWindow* root = gdk_get_default_root_window();
        kx::Rect area{{0, 0}, {double(gdk_window_get_width(root)), double(gdk_window_get_height(root))}};
        if (!wholeScreen)
            area = controller->window()->frame();
        auto pixbuf = kx::GObjectRef<GdkPixbuf>::adopt(
            gdk_pixbuf_get_from_window(root, int(area.origin.x), int(area.origin.y), int(area.size.width), int(area.size.height)));
        ASSERT_TRUE(pixbuf);
        ASSERT_TRUE(gdk_pixbuf_save(pixbuf.get(), (output / file).c_str(), "png", nullptr, nullptr));
        if (!wholeScreen) {
            // The title bar three times as large, for its small drawings.
            const int width = gdk_pixbuf_get_width(pixbuf.get());
            const int bar = int(controller->titleBarHeight());
            auto top = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new_subpixbuf(pixbuf.get(), 0, 0, width, bar));
            auto large = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_scale_simple(top.get(), width * 3, bar * 3, GDK_INTERP_NEAREST));
            const std::string name = std::filesystem::path(file).stem().string() + "-titlebar.png";
            ASSERT_TRUE(gdk_pixbuf_save(large.get(), (output / name).c_str(), "png", nullptr, nullptr));
        }
    }

    void picture(const std::string& frame, const std::string& name, const std::string& file)
    {
        ASSERT_NO_FATAL_FAILURE(selectWithDevice(frame));
        // The window takes the device's size when it shows for the first time; later
        // selections keep the size the user gave it, so each picture starts afresh.
        controller->showWithMakeKey(true);
        ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
        waitForPicture(name);
        save(file + ".png", false);
        save(file + "-screen.png", true);
    }

    std::filesystem::path output;
};

TEST_F(PreviewScreenshots, Phone)
{
    makeController();
    picture("home", "Home", "preview-phone");
}

TEST_F(PreviewScreenshots, Tablet)
{
    makeController();
    picture("tablet", "Tablet", "preview-tablet");
}

TEST_F(PreviewScreenshots, Watch)
{
    makeController();
    picture("watch", "Watch", "preview-watch");
}

} // namespace
