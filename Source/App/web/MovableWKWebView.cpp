#include "App/web/MovableWKWebView.h"

#include <cmath>

#include "App/web/PageFocusTraversal.h"

namespace kx {

MovableWKWebView::MovableWKWebView(WebKitSettings* settings, WebKitWebView* relatedView)
    : WebBridge::WebView(settings, relatedView)
    , magnificationRecognizer_(GObjectRef<GtkGesture>::adopt(gtk_gesture_zoom_new(widget())))
    , focusTraversal_(std::make_unique<PageFocusTraversal>(wkWebView()))
{
    // Focus requests of GTK itself (a click, the window's focus chain) obey the same rule.
    connections_.push_back(SignalConnection::connect<void(GtkWidget*)>(widget(), "grab-focus", [this](GtkWidget* widget) {
        if (isHiddenOrHasHiddenAncestor())
            g_signal_stop_emission_by_name(widget, "grab-focus");
    }));

    // The pinch is the page's: seen before WebKit, whose own page zoom would fight the
    // editor's.
    GtkGesture* gesture = magnificationRecognizer_.get();
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(gesture), GTK_PHASE_CAPTURE);
    connections_.push_back(SignalConnection::connect<void(GtkGesture*, GdkEventSequence*)>(
        gesture, "begin", [this](GtkGesture* gesture, GdkEventSequence* sequence) {
            gtk_gesture_set_sequence_state(gesture, sequence, GTK_EVENT_SEQUENCE_CLAIMED);
            // Nothing has changed yet: GTK's scale is not defined before the first update.
            magnificationGesture(MagnificationTracker::Phase::began, 1.0);
        }));
    connections_.push_back(SignalConnection::connect<void(GtkGestureZoom*, double)>(
        gesture, "scale-changed",
        [this](GtkGestureZoom*, double scale) { magnificationGesture(MagnificationTracker::Phase::changed, scale); }));
    // A cancelled pinch ends too; "end" follows "cancel", so one ended event either way.
    connections_.push_back(SignalConnection::connect<void(GtkGesture*, GdkEventSequence*)>(
        gesture, "end", [this](GtkGesture*, GdkEventSequence*) { magnificationGesture(MagnificationTracker::Phase::ended, 1.0); }));
}

MovableWKWebView::~MovableWKWebView() = default;

bool MovableWKWebView::isHiddenOrHasHiddenAncestor() const
{
    for (GtkWidget* widget = this->widget(); widget; widget = gtk_widget_get_parent(widget)) {
        if (!gtk_widget_get_visible(widget))
            return true;
    }
    return false;
}

void MovableWKWebView::focusFirstControl()
{
    focusTraversal_->focusFirstControl();
}

bool MovableWKWebView::becomeFirstResponder()
{
    if (isHiddenOrHasHiddenAncestor())
        return false;
    gtk_widget_grab_focus(widget());
    return gtk_widget_is_focus(widget());
}

KorvelServices::Point MovableWKWebView::lastCentreMovement() const
{
    // A touchpad pinch carries the movement of its two-finger centre since its previous event;
    // a pinch on a touch screen is followed by its points, not by such a movement.
    GtkGesture* gesture = magnificationRecognizer_.get();
    const GdkEvent* event = gtk_gesture_get_last_event(gesture, gtk_gesture_get_last_updated_sequence(gesture));
    if (!event || event->type != GDK_TOUCHPAD_PINCH)
        return {};
    return {event->touchpad_pinch.dx, event->touchpad_pinch.dy};
}

void MovableWKWebView::magnificationGesture(MagnificationTracker::Phase phase, double scale)
{
    const KorvelServices::Size size{double(gtk_widget_get_allocated_width(widget())),
                                    double(gtk_widget_get_allocated_height(widget()))};
    const KorvelServices::Point moved = phase == MagnificationTracker::Phase::changed ? lastCentreMovement() : KorvelServices::Point{};
    // GTK reports the scale since the pinch began; the page wants the growth.
    KorvelServices::MagnificationEvent event =
        magnification_.update(phase, std::isfinite(scale) ? scale - 1.0 : 0.0, moved, size);
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
