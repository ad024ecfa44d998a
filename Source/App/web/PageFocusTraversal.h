// Tab and Shift+Tab across the edges of a page, as across any other control of its window.
//
// WebKitGTK takes a focus that arrives by Tab into the web view as a whole and leaves the
// page with no element focused: an empty stop, which a screen reader reads as a nameless
// filler. And a Tab that leaves the page from a link comes back to the window a second time,
// as a key the page did not handle, which moves the focus one control further; the view then
// lets its next key go to the window unseen by the page, so the next round passes the page
// by. Here a focus that enters by Tab goes on to the page's first control (by Shift+Tab, its
// last), and the copy of a key that already took the focus out goes back to the view instead
// of on to the window. The control takes the focus after GTK has announced the view's, so
// that a screen reader hears the control last. Main thread only.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class PageFocusTraversal {
public:
    explicit PageFocusTraversal(WebKitWebView* view);
    PageFocusTraversal(const PageFocusTraversal&) = delete;
    PageFocusTraversal& operator=(const PageFocusTraversal&) = delete;

    // Gives the page the keyboard, at its first control unless the page has focused one of
    // its own (a login page's field with autofocus). A page without a control yet (one that
    // enables its controls once its document has loaded) gets it at the first that comes
    // within `controlWait`, unless something in the page has taken the focus meanwhile.
    void focusFirstControl();
    static constexpr std::chrono::milliseconds controlWait{10'000};

private:
    // The body of the function that focuses the page's first control (`forward`) or its last,
    // in the order of Tab: positive tab indexes first, then the document's order. It waits
    // until the page knows it has the focus, and answers whether a control of the page has it.
    static std::string edgeScript(bool forward, bool unlessFocused);

    enum class Entry { tab, shiftTab, first };
    static constexpr std::chrono::milliseconds announcementWait{500};
    bool focus(GtkDirectionType direction);
    // Gives the view the focus and the page its control; false when the view takes no focus.
    bool enter(Entry entry);
    void focusEdge(Entry entry);
    void entered(Entry entry, bool focused);
    void toplevelChanged();
    bool toplevelKeyPressed(GdkEventKey* event);

    WebKitWebView* view_;
    // The time of the last key the page was given, and of the one that took the focus out.
    guint32 lastKeyTime_ = 0;
    std::optional<guint32> leftWithKey_;
    bool passingOn_ = false;
    bool awaitingAnnouncement_ = false;
    unsigned entries_ = 0; // the entries so far: a late wait for an earlier one does nothing
    SignalConnection viewAnnounced_;
    SignalConnection toplevelKeys_;
    std::vector<SignalConnection> connections_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
