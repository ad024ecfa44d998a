// The preview window's toolbar in its title bar: the settings button, a divider and the
// selection lock at the start; the console, rotation and live-sharing buttons at the end (the
// last only where live sharing is available: enterprise builds have none). The
// buttons send their actions to the window's controller along the responder chain (the rotation
// button's action is set by its owner); what they show of the selection and of the preview's
// console they are told. Main thread only.
#pragma once

#include <memory>

#include <gtk/gtk.h>

#include "App/preview/PreviewWindowToolbarButton.h"
#include "App/preview/PreviewWindowToolbarButtonWithTint.h"
#include "App/preview/PreviewWindowToolbarInspectorButton.h"
#include "Platform/UI/Responder.h"

namespace kx {

class PreviewWindowToolbar {
public:
    // Packs the buttons into `bar`; their actions go to `target`.
    PreviewWindowToolbar(GtkHeaderBar* bar, Responder& target, bool liveSharing);
    PreviewWindowToolbar(const PreviewWindowToolbar&) = delete;
    PreviewWindowToolbar& operator=(const PreviewWindowToolbar&) = delete;

    PreviewWindowToolbarButton& settingsButton() const { return *settingsButton_; }
    PreviewWindowToolbarButtonWithTint& selectionLockButton() const { return *selectionLockButton_; }
    PreviewWindowToolbarInspectorButton& consoleButton() const { return *consoleButton_; }
    PreviewWindowToolbarButton& orientationButton() const { return *orientationButton_; }
    // nullptr without live sharing.
    PreviewWindowToolbarButton* liveSharingButton() const { return liveSharingButton_.get(); }
    GtkWidget* divider() const { return divider_; }

    // What the buttons show of the device: the lock needs a selection, the rotation a device
    // that turns, and there is no rotation on the canvas.
    void showDevice(bool hasSelection, bool canRotate, bool isCanvas);
    // The console's icon: errors win over warnings.
    void showConsole(bool hasErrors, bool hasWarnings);

private:
    std::unique_ptr<PreviewWindowToolbarButton> settingsButton_;
    std::unique_ptr<PreviewWindowToolbarButtonWithTint> selectionLockButton_;
    std::unique_ptr<PreviewWindowToolbarInspectorButton> consoleButton_;
    std::unique_ptr<PreviewWindowToolbarButton> orientationButton_;
    std::unique_ptr<PreviewWindowToolbarButton> liveSharingButton_;
    GtkWidget* divider_ = nullptr;
};

} // namespace kx
