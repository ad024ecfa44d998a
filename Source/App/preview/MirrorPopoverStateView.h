// One prepared layout of the live-sharing popover, built for one situation (available,
// starting, active, stopping, error): the title "Live Preview", the message, the main button
// and, for the active layout, the QR code of the share address. Reflecting a state fills in
// its message (with "open in browser" as a link while sharing runs), the button's title and the
// code. The error layout also offers to try again when the state says that may help.
// Main thread only.
#pragma once

#include <functional>
#include <optional>

#include <gtk/gtk.h>

#include "App/preview/MirrorPopoverState.h"
#include "App/preview/QRCodeImage.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class MirrorPopoverStateView {
public:
    static constexpr int width = 210;
    static constexpr int mainButtonWidth = int(QRCodeImage::tileSize);

    explicit MirrorPopoverStateView(MirrorPopoverState::Kind intrinsicState);
    ~MirrorPopoverStateView();
    MirrorPopoverStateView(const MirrorPopoverStateView&) = delete;
    MirrorPopoverStateView& operator=(const MirrorPopoverStateView&) = delete;

    GtkWidget* widget() const { return box_.get(); }
    MirrorPopoverState::Kind intrinsicState() const { return intrinsicState_; }
    GtkLabel* message() const { return GTK_LABEL(message_); }
    GtkButton* mainButton() const { return GTK_BUTTON(mainButton_); }
    GtkButton* retryButton() const { return GTK_BUTTON(retryButton_); }
    GtkWidget* imageView() const { return imageView_; }
    // The code drawn now; none outside the active state or when it could not be made.
    const std::optional<QRCodeImage>& qrCode() const { return qrCode_; }

    void reflect(const MirrorPopoverState& state);

    std::function<void()> mainAction;
    std::function<void()> retryAction;

private:
    MirrorPopoverState::Kind intrinsicState_;
    GObjectRef<GtkWidget> box_;
    GtkWidget* title_ = nullptr;
    GtkWidget* message_ = nullptr;
    GtkWidget* mainButton_ = nullptr;
    GtkWidget* retryButton_ = nullptr;
    GtkWidget* imageView_ = nullptr;
    std::optional<QRCodeImage> qrCode_;
    GObjectRef<GtkCssProvider> style_;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
