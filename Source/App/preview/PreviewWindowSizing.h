// The preview window's size and place, and what it keeps to change them: its first frame beside
// the document window, the snapping of a resize by the user to the device's shape, the tracking
// of a move by the user, the title that tells the scale while the window is resized, and the
// frame kept for the next launch. The arithmetic is PreviewSizing's; this class holds the state
// and works on the window. Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "App/preview/PreviewWindow.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class PreviewWindowSizing {
public:
    // What the device shown asks of the window, read afresh at each use.
    struct Device {
        Size intrinsic;            // the content size the device wants
        bool freeResizing = false; // responsive settings without a device
        bool showsBezel = false;
    };
    // The window manager holds the pointer while it moves the window, so no release reaches the
    // window: the button's state is polled at this interval.
    static constexpr std::chrono::milliseconds movePollInterval{40};

    PreviewWindowSizing(PreviewWindow& window, std::function<Device()> device, std::function<GtkWindow*()> documentWindow);
    ~PreviewWindowSizing();
    PreviewWindowSizing(const PreviewWindowSizing&) = delete;
    PreviewWindowSizing& operator=(const PreviewWindowSizing&) = delete;

    double titleBarHeight() const;

    // ---- The first appearance ----
    bool isFirstAppearance() const { return isFirstAppearance_; }
    // Beside the document window; none without one or without its monitor.
    std::optional<Rect> firstAppearanceFrame(const Rect& frame) const;
    // `frame`, or its first-appearance frame while the window has not appeared and there is one.
    Rect placed(const Rect& frame) const;
    // The window appears now: its first-appearance frame, after which it has appeared; none (and
    // it has not appeared yet) when it appeared before or there is no such frame.
    std::optional<Rect> appear(const Rect& frame);

    // ---- Resizing by the user ----
    void willStartLiveResize();
    void didEndLiveResize() { isLiveResizing_ = false; }
    bool isLiveResizing() const { return isLiveResizing_; }
    // Kept after the resize ended.
    const std::optional<Size>& sizeAtStartOfResizing() const { return sizeAtStartOfResizing_; }
    Size snappedSize(Size proposed) const;
    // The frame of a window of `size` whose `edges` were dragged from `start`: never below the
    // window's minimum, the sides not dragged where they were, inside the work area.
    Rect frameForDrag(const Rect& start, unsigned edges, Size size) const;

    // ---- Moves by the user ----
    // From the title bar's press: `poll` runs at each interval until `endMove`. One tracking at
    // a time: a second press while one runs changes nothing. Under Wayland the compositor moves
    // the window and tells the client neither where the pointer is outside its windows nor where
    // the window went: there is nothing to track.
    void beginMove(std::function<void()> poll);
    // Whether the button that moves the window is still held.
    bool isMoveButtonDown() const;
    // The window moved under the pointer: measured from here on.
    void windowDidMove();
    void endMove();
    bool isTrackingMove() const { return move_.has_value(); }

    // ---- The title ----
    double contentScale() const { return contentScale_; }
    // True when the value changed (and the title is due).
    bool setContentScale(double scale);
    void updateTitle();

    // ---- The frame for the next launch ----
    // {"frame": [x, y, width, height]}.
    nlohmann::json encodeFrame() const;
    // Puts the window where `state` says, on one of today's monitors (the first appearance's own
    // frame wins until the window appeared); a state that does not read changes nothing.
    void restoreFrame(const nlohmann::json& state);

private:
    // A move being tracked: where the pointer and the window were when it began.
    struct Move {
        std::shared_ptr<MainQueue::Timer> timer;
        std::optional<Point> startMouseLocation;
        Rect startWindowFrame;
    };

    PreviewWindow& window_;
    std::function<Device()> device_;
    std::function<GtkWindow*()> documentWindow_;
    bool isFirstAppearance_ = true;
    bool isLiveResizing_ = false;
    std::optional<Size> sizeAtStartOfResizing_;
    std::optional<Move> move_;
    double contentScale_ = 1.0;
};

} // namespace kx
