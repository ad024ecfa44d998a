// The About window's views: the application icon, the name, the version (which its controller
// switches between the marketing version and the build number when clicked), the build's
// name, and links to the acknowledgements and the terms of service. Its title bar is see-
// through, the window moves when its background is dragged, and Escape closes it. The
// controller acts on it.
//
// The links are buttons that look like links and send their action: they carry no address of
// their own, and a right click on them, as anywhere in the window, is the window's.
#pragma once

#include <functional>
#include <optional>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Window.h"

namespace kx {

class AboutWindow : public Window {
public:
    static constexpr Size contentSize{300, 300};
    static constexpr int iconSize = 96;

    AboutWindow();
    ~AboutWindow() override;

    // The views, as the controller uses them.
    GtkImage* korvelIconView() const { return korvelIconView_; }
    GtkLabel* versionLabel() const { return versionLabel_; }
    GtkLabel* titleLabel() const { return titleLabel_; }
    GtkLabel* extraVersionInfoLabel() const { return extraVersionInfoLabel_; }
    GtkWidget* versionLabelArea() const { return versionArea_; }
    GtkButton* acknowledgmentsLink() const { return acknowledgmentsLink_; }
    GtkButton* termsOfServiceLink() const { return termsOfServiceLink_; }

    // What the window hears: a click released over the version, a right click released
    // anywhere (at a point of the window), the two links.
    std::function<void()> versionClicked;
    std::function<void(std::optional<Point> at)> rightMouseUp;
    std::function<void()> acknowledgmentsClicked;
    std::function<void()> termsOfServiceClicked;

protected:
    void performClose() override { close(); }

private:
    GtkImage* korvelIconView_;
    GtkLabel* titleLabel_;
    GtkWidget* versionArea_;
    GtkLabel* versionLabel_;
    GtkLabel* extraVersionInfoLabel_;
    GtkButton* acknowledgmentsLink_;
    GtkButton* termsOfServiceLink_;
    GObjectRef<GtkCssProvider> style_;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
