#include "App/web/MovableWKWebView.h"

#include <cmath>

namespace kx {

MovableWKWebView::MovableWKWebView(WebKitSettings* settings)
    : WebBridge::WebView(settings)
    , magnificationRecognizer_(gtk_gesture_zoom_new(widget()))
{
    // Focus requests of GTK itself (a click, the window's focus chain) obey the same rule.
    g_signal_connect(widget(), "grab-focus", G_CALLBACK(+[](GtkWidget* widget, gpointer self) {
                         if (static_cast<MovableWKWebView*>(self)->isHiddenOrHasHiddenAncestor())
                             g_signal_stop_emission_by_name(widget, "grab-focus");
                     }),
                     this);

    // The pinch is the page's: seen before WebKit, whose own page zoom would fight the
    // editor's.
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(magnificationRecognizer_), GTK_PHASE_CAPTURE);
    g_signal_connect(magnificationRecognizer_, "begin", G_CALLBACK(+[](GtkGesture* gesture, GdkEventSequence* sequence, gpointer self) {
                         gtk_gesture_set_sequence_state(gesture, sequence, GTK_EVENT_SEQUENCE_CLAIMED);
                         // Nothing has changed yet: GTK's scale is not defined before the first update.
                         static_cast<MovableWKWebView*>(self)->magnificationGesture(MagnificationTracker::Phase::began, 1.0);
                     }),
                     this);
    g_signal_connect(magnificationRecognizer_, "scale-changed", G_CALLBACK(+[](GtkGestureZoom*, double scale, gpointer self) {
                         static_cast<MovableWKWebView*>(self)->magnificationGesture(MagnificationTracker::Phase::changed, scale);
                     }),
                     this);
    // A cancelled pinch ends too; "end" follows "cancel", so one ended event either way.
    g_signal_connect(magnificationRecognizer_, "end", G_CALLBACK(+[](GtkGesture*, GdkEventSequence*, gpointer self) {
                         static_cast<MovableWKWebView*>(self)->magnificationGesture(MagnificationTracker::Phase::ended, 1.0);
                     }),
                     this);
}

MovableWKWebView::~MovableWKWebView()
{
    g_signal_handlers_disconnect_by_data(widget(), this);
    g_signal_handlers_disconnect_by_data(magnificationRecognizer_, this);
    g_object_unref(magnificationRecognizer_);
}

bool MovableWKWebView::isHiddenOrHasHiddenAncestor() const
{
    for (GtkWidget* widget = this->widget(); widget; widget = gtk_widget_get_parent(widget)) {
        if (!gtk_widget_get_visible(widget))
            return true;
    }
    return false;
}

bool MovableWKWebView::becomeFirstResponder()
{
    if (isHiddenOrHasHiddenAncestor())
        return false;
    gtk_widget_grab_focus(widget());
    return gtk_widget_is_focus(widget());
}

void MovableWKWebView::magnificationGesture(MagnificationTracker::Phase phase, double scale)
{
    // GTK reports the scale since the pinch began; the page wants the growth.
    KorvelServices::MagnificationEvent event = magnification_.update(phase, std::isfinite(scale) ? scale - 1.0 : 0.0);
    // A page without the service, or one that fails, changes nothing here.
    gestureEventTarget().dispatchMagnificationEvent(std::move(event), [](Result<Unit, ServiceError>) {});
}

GestureEventTarget::Interface& MovableWKWebView::gestureEventTarget()
{
    if (!gestureEventTarget_)
        gestureEventTarget_ = serviceManager().addRouter(serviceChannel())->expect(GestureEventTarget::service());
    return *gestureEventTarget_;
}

} // namespace kx
