// The images pasteboard between documents: what one document writes another reads back whole,
// a later copy replaces an earlier one, and under Wayland (no selections of our own name) the
// same holds through the pasteboard of the process, while the desktop's clipboard is left
// alone. What another client offers is read through checks: an object of strings no larger
// than the limit, or nothing.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "App/documents/NimbetImagePasteboard.h"
#include "Platform/UI/Window.h"
#include "support/ClipboardContents.h"
#include "support/Spin.h"

using kx::NimbetImagePasteboard;

TEST(NimbetImagePasteboardGui, WhatIsWrittenIsReadBackAndALaterCopyReplacesIt)
{
    const NimbetImagePasteboard::Images first{{"logo.png", "/home/ada/Project/images/logo.png"},
                                              {"photo 1.jpg", "/home/ada/Project/images/photo 1.jpg"},
                                              {"ünïcödé.webp", "/home/ada/Projekt/images/ünïcödé.webp"}};
    NimbetImagePasteboard::write(first);
    EXPECT_EQ(NimbetImagePasteboard::read(), first);
    // Read again: reading takes nothing away.
    EXPECT_EQ(NimbetImagePasteboard::read(), first);

    const NimbetImagePasteboard::Images second{{"icon.svg", "/tmp/other/images/icon.svg"}};
    NimbetImagePasteboard::write(second);
    EXPECT_EQ(NimbetImagePasteboard::read(), second);

    // An empty copy is a copy of nothing, not the one before.
    NimbetImagePasteboard::write({});
    EXPECT_EQ(NimbetImagePasteboard::read(), NimbetImagePasteboard::Images{});
}

TEST(NimbetImagePasteboardGui, UnderWaylandTheCopyStaysInTheProcessAndTheClipboardIsUntouched)
{
    GdkDisplay* display = gdk_display_get_default();
    if (kx::Window::isX11Display(display))
        GTEST_SKIP() << "under X11 the images travel in a selection of their own name (the test above)";
    if (!gdk_display_get_default_seat(display))
        GTEST_SKIP() << "the compositor has no seat (headless weston), and GTK's clipboard under Wayland needs one";
    GtkClipboard* clipboard = gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, "the user's text", -1);
    ASSERT_TRUE(kxtest::spinUntil([&] { return kxtest::clipboardText(clipboard) == "the user's text"; }));

    const NimbetImagePasteboard::Images images{{"logo.png", "/home/ada/Project/images/logo.png"}};
    NimbetImagePasteboard::write(images);
    EXPECT_EQ(NimbetImagePasteboard::read(), images);
    EXPECT_EQ(kxtest::clipboardText(clipboard), "the user's text");
}

TEST(NimbetImagePasteboardGui, OnlyAnObjectOfStringsWithinTheLimitIsRead)
{
    const NimbetImagePasteboard::Images images{{"a.png", "/p/a.png"}, {"b \"quoted\".png", "/p/b \"quoted\".png"}};
    EXPECT_EQ(NimbetImagePasteboard::decode(NimbetImagePasteboard::encode(images)), images);
    EXPECT_EQ(NimbetImagePasteboard::decode("{}"), NimbetImagePasteboard::Images{});

    for (const char* hostile : {"", "[]", "\"a\"", "null", "{\"a.png\": 1}", "{\"a.png\": [\"/p\"]}", "{\"a.png\": null}",
                                "{\"a.png\": \"/p\"", "{\"a.png\": \"/p\"} trailing"})
        EXPECT_EQ(NimbetImagePasteboard::decode(hostile), std::nullopt) << hostile;

    std::string large = "{\"a.png\": \"";
    large += std::string(NimbetImagePasteboard::maximumLength, 'x');
    large += "\"}";
    EXPECT_EQ(NimbetImagePasteboard::decode(large), std::nullopt);
}
