// The web view's own service connection with a real page that speaks the service protocol
// (gui/pages/service-page.*): the native services it serves and the page services it calls.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "gui/App/web/HostedPage.h"
#include "support/Spin.h"

namespace {

using kxtest::json;
using kxtest::pageTimeout;

class WebBridgeWebViewGui : public kxtest::HostedPageTest {
protected:
    void SetUp() override
    {
        HostedPageTest::SetUp();
        loadServicePage();
    }
    // What the page got back for one call of a native service.
    json pageCall(const std::string& serviceId, const std::string& method)
    {
        evaluate("window.pageResults = []; kxPage.callAndRecord('" + serviceId + "', '" + method + "')");
        EXPECT_TRUE(kxtest::spinUntil([&] { return evaluate("window.pageResults.length") == 1; }, pageTimeout));
        return evaluate("window.pageResults[0]");
    }
};

// The colour sampler's answers to the page: RKColorSamplerGuiTest.
TEST_F(WebBridgeWebViewGui, ThePageReachesTheBeep)
{
    EXPECT_EQ(pageCall("__Beep__", "beep"), json::parse(R"({"method":"beep","result":null})"));
}

TEST_F(WebBridgeWebViewGui, PageServicesAnswerOnceThePageHasAnnouncedThem)
{
    // A view of its own, whose page has said nothing yet, fails at once.
    kx::MovableWKWebView silent;
    std::optional<kx::ServiceError> error;
    silent.menuActionTarget()->validate({"copy"}, [&](auto result) { error = result.error(); });
    EXPECT_EQ(error, kx::ServiceError::serviceNotFound());

    std::optional<kx::KorvelServices::MenuValidationResult> validation;
    controller->webView().menuActionTarget()->validate({"copy"}, [&](auto result) { validation = result.value(); });
    ASSERT_TRUE(kxtest::spinUntil([&] { return validation.has_value(); }, pageTimeout));
    ASSERT_EQ(validation->states.size(), 1u);
    EXPECT_EQ(validation->states[0].label, "Label of copy");
}

// One touchpad pinch event on the view, as the display would deliver it; (dx, dy) is how far
// the fingers' centre moved since the previous event.
void pinch(GtkWidget* widget, GdkTouchpadGesturePhase phase, double scale, double dx = 0, double dy = 0)
{
    GdkEvent* event = gdk_event_new(GDK_TOUCHPAD_PINCH);
    event->touchpad_pinch.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->touchpad_pinch.phase = phase;
    event->touchpad_pinch.n_fingers = 2;
    event->touchpad_pinch.x = event->touchpad_pinch.y = 100;
    event->touchpad_pinch.scale = scale;
    event->touchpad_pinch.dx = dx;
    event->touchpad_pinch.dy = dy;
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    gdk_event_set_device(event, pointer);
    gdk_event_set_source_device(event, pointer);
    gtk_main_do_event(event);
    gdk_event_free(event);
}

TEST_F(WebBridgeWebViewGui, APinchReachesThePageAndNotWebKitsZoom)
{
    GtkWidget* view = controller->webView().widget();
    evaluate("window.pageResults = []");
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0);
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 1.5);
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_END, 1.5);
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.pageResults.length") == 3; }, pageTimeout));
    EXPECT_EQ(evaluate("window.pageResults.map(r => r.magnified)"), json::parse("[0, 0.5, 0]"));
    EXPECT_EQ(evaluate("window.received.filter(m => m.method === 'dispatchMagnificationEvent')[0].body"),
              json::parse(R"({"type":"magnificationBegan","magnification":0,"normalizedTouchOffset":{"x":0,"y":0}})"));
    EXPECT_EQ(evaluate("window.visualViewport.scale"), 1);
}

TEST_F(WebBridgeWebViewGui, APinchTellsThePageHowFarTheFingersMovedAsAShareOfTheView)
{
    GtkWidget* view = controller->webView().widget();
    const double width = gtk_widget_get_allocated_width(view);
    const double height = gtk_widget_get_allocated_height(view);
    ASSERT_GT(width, 0);
    evaluate("window.pageResults = []; window.received = []");
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0);
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 1.1, width * 0.05, 0);
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 1.2, width * 0.05, -height * 0.25);
    pinch(view, GDK_TOUCHPAD_GESTURE_PHASE_END, 1.2);
    ASSERT_TRUE(kxtest::spinUntil([&] { return evaluate("window.pageResults.length") == 4; }, pageTimeout));
    const json offsets = evaluate(
        "window.received.filter(m => m.method === 'dispatchMagnificationEvent').map(m => m.body.normalizedTouchOffset)");
    ASSERT_EQ(offsets.size(), 4u);
    EXPECT_EQ(offsets[0], json::parse(R"({"x":0,"y":0})"));
    EXPECT_NEAR(offsets[1]["x"].get<double>(), 0.05, 1e-9);
    EXPECT_EQ(offsets[1]["y"], 0);
    EXPECT_NEAR(offsets[2]["x"].get<double>(), 0.1, 1e-9);
    EXPECT_NEAR(offsets[2]["y"].get<double>(), -0.25, 1e-9);
    EXPECT_EQ(offsets[3], json::parse(R"({"x":0,"y":0})"));
}

} // namespace
