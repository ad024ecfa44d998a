#include <gtest/gtest.h>

#include "App/web/WKWebViewExtras.h"

namespace {

using kx::WKWebViewExtras;

TEST(WKWebViewExtras, TheInspectorAttachesOnlyToALargeEnoughView)
{
    EXPECT_TRUE(WKWebViewExtras::canAttachInspector(kx::Size{800, 400}));   // 300 of height left
    EXPECT_FALSE(WKWebViewExtras::canAttachInspector(kx::Size{800, 333}));  // 249.75
    EXPECT_TRUE(WKWebViewExtras::canAttachInspector(kx::Size{500, 334}));
    EXPECT_FALSE(WKWebViewExtras::canAttachInspector(kx::Size{499, 1000}));
    EXPECT_EQ(WKWebViewExtras::minimumSizeToAttachInspector(), (kx::Size{500, 334}));
}

} // namespace
