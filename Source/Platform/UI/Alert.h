// A modal alert: message, informative text, an icon for its style, buttons answered by their
// position, an optional suppression check box and an optional accessory widget (radio
// buttons, a text field). It runs application-modal (`runModal`, which returns the answer) or
// as a sheet modal to one window (`beginSheetModal`, whose handler runs exactly once, also
// when the window goes first).
//
// Keys: the first button answers Return, a button titled "Cancel" answers Escape and one
// titled "Don't Save" Ctrl+D; any button can be given another key. Return presses the button
// the keyboard focus is on, unless that button must be pressed deliberately. Escape without
// such a button, and closing the alert's window, answer `abortResponse`: an alert never waits
// for an answer that cannot come. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/ModifierFlags.h"

namespace kx {

class Alert : public std::enable_shared_from_this<Alert> {
public:
    using ModalResponse = long;
    // The n-th button added answers firstButtonReturn + n.
    static constexpr ModalResponse firstButtonReturn = 1000;
    static constexpr ModalResponse secondButtonReturn = 1001;
    static constexpr ModalResponse thirdButtonReturn = 1002;
    // Ended without a button: closed, Escape with no Escape button, or the sheet's window went.
    static constexpr ModalResponse abortResponse = -1001;

    enum class Style { warning, informational, critical };

    class Button {
    public:
        const std::string& title() const { return title_; }
        ModalResponse response() const { return response_; }
        const std::string& keyEquivalent() const { return keyEquivalent_; }
        ModifierFlags keyEquivalentModifierMask() const { return modifierMask_; }
        // A single character ("\r" Return, "\x1b" Escape, "d"); empty for none. A key belongs
        // to one button: giving it here takes it from the button that had it.
        void setKeyEquivalent(std::string key, ModifierFlags modifierMask = ModifierFlags::none);
        // An answer that must be given deliberately: a click or Space with the focus on the
        // button. Return never presses it, not even with the focus on it (it answers as the
        // Return button does, or not at all).
        bool requiresDeliberatePress() const { return requiresDeliberatePress_; }
        void setRequiresDeliberatePress(bool required) { requiresDeliberatePress_ = required; }
        // The GTK button while the alert is shown, else nullptr.
        GtkWidget* widget() const { return widget_; }

    private:
        friend class Alert;
        Button(Alert& alert, std::string title, ModalResponse response);
        Alert& alert_;
        std::string title_;
        ModalResponse response_;
        std::string keyEquivalent_;
        ModifierFlags modifierMask_ = ModifierFlags::none;
        bool requiresDeliberatePress_ = false;
        GtkWidget* widget_ = nullptr;
    };

    static std::shared_ptr<Alert> make();
    // The alert for an error: its description as the message, its informative text below, "OK".
    static std::shared_ptr<Alert> alertWithError(const Error& error);
    ~Alert();
    Alert(const Alert&) = delete;
    Alert& operator=(const Alert&) = delete;

    const std::string& messageText() const { return messageText_; }
    void setMessageText(std::string text) { messageText_ = std::move(text); }
    const std::string& informativeText() const { return informativeText_; }
    void setInformativeText(std::string text) { informativeText_ = std::move(text); }
    Style alertStyle() const { return style_; }
    void setAlertStyle(Style style) { style_ = style; }

    // Buttons stand right to left in the order added; an alert shown without any gets "OK".
    Button& addButton(std::string title);
    std::vector<Button*> buttons() const;

    bool showsSuppressionButton() const { return showsSuppressionButton_; }
    void setShowsSuppressionButton(bool shows) { showsSuppressionButton_ = shows; }
    const std::string& suppressionButtonTitle() const { return suppressionButtonTitle_; }
    void setSuppressionButtonTitle(std::string title) { suppressionButtonTitle_ = std::move(title); }
    // The check box's state, updated when the alert ends.
    bool suppressionButtonState() const { return suppressionButtonState_; }
    void setSuppressionButtonState(bool on) { suppressionButtonState_ = on; }

    // Shown below the texts. The alert keeps a reference, and the widget stays readable (not
    // destroyed) after the alert ends.
    GtkWidget* accessoryView() const { return accessoryView_.get(); }
    void setAccessoryView(GtkWidget* view);

    // Shows the alert modal to the whole application and returns its answer; it stands over
    // `over` (the window it speaks of), else over the active window. Under Wayland, where the
    // compositor places windows, one without a window to stand over may land anywhere.
    ModalResponse runModal(GtkWindow* over = nullptr);
    // Shows the alert modal to `window` only and returns at once; `completionHandler` gets the
    // answer. Without a window the alert stands on its own, modal to nothing.
    void beginSheetModal(GtkWindow* window, std::function<void(ModalResponse)> completionHandler);

    // The alert's window while it is shown, else nullptr.
    GtkWindow* window() const;
    // The alerts on screen now, the most recent last (tests answer them as a user would).
    static std::vector<std::shared_ptr<Alert>> shownAlerts();

    // The process is ending without questions (a signal): every alert on screen ends at once
    // with abortResponse, which every handler takes as a cancel, and every alert asked for
    // from now on answers abortResponse without showing. No modal loop then waits for a user
    // who is gone, and no later answer is acted on.
    static void endAllForTermination();
    static bool isTerminating();

    struct Showing;

private:
    Alert() = default;
    void show(GtkWindow* parent, bool sheet);
    GtkWidget* buildWindow(GtkWindow* parent);
    bool handleKey(const GdkEventKey& event);
    void end(ModalResponse response);
    ModalResponse closeResponse() const;

    std::string messageText_;
    std::string informativeText_;
    Style style_ = Style::warning;
    std::vector<std::unique_ptr<Button>> buttons_;
    bool showsSuppressionButton_ = false;
    std::string suppressionButtonTitle_ = "Do not show this message again";
    bool suppressionButtonState_ = false;
    GObjectRef<GtkWidget> accessoryView_;
    std::unique_ptr<Showing> showing_;
};

} // namespace kx
