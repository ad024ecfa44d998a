#include "Platform/UI/Alert.h"

#include <algorithm>

#include <pango/pango.h>

#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/GtkAccelerator.h"
#include "Platform/UI/SheetNotification.h"

namespace kx {

// One showing of an alert, from `show` to `end`.
struct Alert::Showing {
    std::shared_ptr<Alert> self; // the alert stays while it is on screen
    GObjectRef<GtkWidget> window;
    GtkWidget* suppressionButton = nullptr;
    GtkWidget* initialFocus = nullptr; // the Return button, else the first
    std::vector<SignalConnection> connections;
    std::function<void(ModalResponse)> completion;
    bool applicationModal = false;
    bool ended = false;
};

namespace {

std::vector<Alert*>& shownList()
{
    static std::vector<Alert*> list;
    return list;
}

// The windows of the application-modal alerts now running, innermost last.
std::vector<GtkWindow*>& applicationModalWindows()
{
    static std::vector<GtkWindow*> list;
    return list;
}

bool isUserInput(GdkEventType type)
{
    switch (type) {
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
    case GDK_SCROLL:
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL:
    case GDK_TOUCHPAD_SWIPE:
    case GDK_TOUCHPAD_PINCH:
    case GDK_DELETE: return true;
    default: return false;
    }
}

// GTK's modal grab holds only within the alert's window group; windows that have a group of
// their own (those that show sheets) would still take input. While an application-modal alert
// runs, input for any window outside its group is dropped here.
void filterForModalAlert(GdkEvent* event, gpointer)
{
    auto& modal = applicationModalWindows();
    if (!modal.empty() && isUserInput(event->type)) {
        GtkWidget* widget = gtk_get_event_widget(event);
        GtkWidget* toplevel = widget ? gtk_widget_get_toplevel(widget) : nullptr;
        if (toplevel && GTK_IS_WINDOW(toplevel)
            && gtk_window_get_group(GTK_WINDOW(toplevel)) != gtk_window_get_group(modal.back()))
            return;
    }
    gtk_main_do_event(event);
}

void beginApplicationModal(GtkWindow* window)
{
    auto& modal = applicationModalWindows();
    if (modal.empty())
        gdk_event_handler_set(filterForModalAlert, nullptr, nullptr);
    modal.push_back(window);
}

void endApplicationModal(GtkWindow* window)
{
    auto& modal = applicationModalWindows();
    modal.erase(std::remove(modal.begin(), modal.end(), window), modal.end());
    if (modal.empty())
        gdk_event_handler_set(+[](GdkEvent* event, gpointer) { gtk_main_do_event(event); }, nullptr, nullptr);
}

// The window the user works in, which an application-modal alert is placed over.
GtkWindow* activeWindow()
{
    GtkWindow* active = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* node = windows; node; node = node->next) {
        auto* window = GTK_WINDOW(node->data);
        if (gtk_window_is_active(window) && gtk_widget_get_visible(GTK_WIDGET(window)))
            active = window;
    }
    g_list_free(windows);
    return active;
}

const char* iconName(Alert::Style style)
{
    switch (style) {
    case Alert::Style::informational: return "dialog-information";
    case Alert::Style::critical: return "dialog-error";
    case Alert::Style::warning: break;
    }
    return "dialog-warning";
}

// Text for a label or a button: it may come from a file or a server, so it is made valid UTF-8
// and shown as plain text, never as markup.
std::string displayable(const std::string& text)
{
    char* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

GtkWidget* textLabel(const std::string& text, bool emphasised)
{
    GtkWidget* label = gtk_label_new(displayable(text).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_width_chars(GTK_LABEL(label), 36);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 52);
    // However long the text, the buttons stay on the screen.
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_lines(GTK_LABEL(label), emphasised ? 6 : 16);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_widget_set_halign(label, GTK_ALIGN_FILL);
    if (emphasised) {
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        pango_attr_list_insert(attributes, pango_attr_scale_new(1.1));
        gtk_label_set_attributes(GTK_LABEL(label), attributes);
        pango_attr_list_unref(attributes);
    }
    return label;
}

bool isLetterKey(guint keyval)
{
    const gunichar c = gdk_keyval_to_unicode(keyval);
    return c && g_unichar_isalpha(c);
}

} // namespace

Alert::Button::Button(Alert& alert, std::string title, ModalResponse response)
    : alert_(alert)
    , title_(std::move(title))
    , response_(response)
{
}

void Alert::Button::setKeyEquivalent(std::string key, ModifierFlags modifierMask)
{
    if (!key.empty()) {
        for (auto& other : alert_.buttons_) {
            if (other.get() != this && other->keyEquivalent_ == key && other->modifierMask_ == modifierMask)
                other->keyEquivalent_.clear();
        }
    }
    keyEquivalent_ = std::move(key);
    modifierMask_ = modifierMask;
}

std::shared_ptr<Alert> Alert::make()
{
    return std::shared_ptr<Alert>(new Alert());
}

std::shared_ptr<Alert> Alert::alertWithError(const Error& error)
{
    auto alert = make();
    alert->setMessageText(error.localizedDescription);
    alert->setInformativeText(error.informativeText());
    alert->addButton("OK");
    return alert;
}

Alert::~Alert() = default;

Alert::Button& Alert::addButton(std::string title)
{
    const auto response = firstButtonReturn + ModalResponse(buttons_.size());
    auto& button = *buttons_.emplace_back(new Button(*this, std::move(title), response));
    const auto hasKey = [&](const char* key) {
        return std::any_of(buttons_.begin(), buttons_.end(), [&](const auto& b) { return b->keyEquivalent_ == key; });
    };
    if (buttons_.size() == 1)
        button.setKeyEquivalent("\r");
    else if (button.title_ == "Cancel" && !hasKey("\x1b"))
        button.setKeyEquivalent("\x1b");
    else if (button.title_ == "Don't Save" || button.title_ == "Don\u2019t Save")
        button.setKeyEquivalent("d", ModifierFlags::command);
    return button;
}

std::vector<Alert::Button*> Alert::buttons() const
{
    std::vector<Button*> result;
    for (const auto& button : buttons_)
        result.push_back(button.get());
    return result;
}

void Alert::setAccessoryView(GtkWidget* view)
{
    if (accessoryView_ && showing_) {
        if (GtkWidget* parent = gtk_widget_get_parent(accessoryView_.get()))
            gtk_container_remove(GTK_CONTAINER(parent), accessoryView_.get());
    }
    accessoryView_ = GObjectRef<GtkWidget>::sink(view);
}

GtkWindow* Alert::window() const
{
    return showing_ ? GTK_WINDOW(showing_->window.get()) : nullptr;
}

std::vector<std::shared_ptr<Alert>> Alert::shownAlerts()
{
    std::vector<std::shared_ptr<Alert>> result;
    for (Alert* alert : shownList())
        result.push_back(alert->shared_from_this());
    return result;
}

namespace {

bool terminating = false;

} // namespace

void Alert::endAllForTermination()
{
    terminating = true;
    for (const auto& alert : shownAlerts())
        alert->end(abortResponse);
}

bool Alert::isTerminating()
{
    return terminating;
}

Alert::ModalResponse Alert::runModal(GtkWindow* over)
{
    if (showing_ || terminating)
        return abortResponse; // already on screen (it answers where it was shown), or nobody to ask
    struct LoopDeleter {
        void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
    };
    std::unique_ptr<GMainLoop, LoopDeleter> loop(g_main_loop_new(nullptr, FALSE));
    ModalResponse response = abortResponse;
    bool answered = false;
    show(over && !gtk_widget_in_destruction(GTK_WIDGET(over)) ? over : activeWindow(), false);
    showing_->completion = [&](ModalResponse answer) {
        response = answer;
        answered = true;
        g_main_loop_quit(loop.get());
    };
    if (!answered)
        g_main_loop_run(loop.get());
    return response;
}

void Alert::beginSheetModal(GtkWindow* window, std::function<void(ModalResponse)> completionHandler)
{
    if (showing_ || terminating || (window && gtk_widget_in_destruction(GTK_WIDGET(window)))) {
        MainQueue::async([handler = std::move(completionHandler)] {
            if (handler)
                handler(abortResponse);
        });
        return;
    }
    show(window, true);
    showing_->completion = std::move(completionHandler);
}

void Alert::show(GtkWindow* parent, bool sheet)
{
    if (sheet && parent)
        postWindowWillBeginSheet(parent);
    if (buttons_.empty())
        addButton("OK");
    showing_ = std::make_unique<Showing>();
    showing_->self = shared_from_this();
    showing_->applicationModal = !sheet;
    GtkWidget* window = buildWindow(parent);
    showing_->window = GObjectRef<GtkWidget>::retain(window);

    if (!sheet) {
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
        beginApplicationModal(GTK_WINDOW(window));
    } else if (parent) {
        // Modal to its own window only: the grab covers the window group, so the window gets
        // a group of its own when it has none, and the alert joins it.
        if (!gtk_window_has_group(parent)) {
            auto group = GObjectRef<GtkWindowGroup>::adopt(gtk_window_group_new());
            gtk_window_group_add_window(group.get(), parent);
        }
        gtk_window_group_add_window(gtk_window_get_group(parent), GTK_WINDOW(window));
        gtk_window_set_destroy_with_parent(GTK_WINDOW(window), TRUE);
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    }

    auto& connections = showing_->connections;
    connections.push_back(SignalConnection::connect<void(GtkDialog*, int)>(
        window, "response", [this](GtkDialog*, int response) {
            end(response >= firstButtonReturn ? ModalResponse(response) : closeResponse());
        }));
    connections.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(
        window, "delete-event", [this](GtkWidget*, GdkEvent*) -> gboolean {
            end(closeResponse());
            return TRUE;
        }));
    connections.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        window, "key-press-event",
        [this](GtkWidget*, GdkEventKey* event) -> gboolean { return handleKey(*event); }));
    // Destroyed from outside (with its sheet's window): the answer is an abort.
    connections.push_back(SignalConnection::connect<void(GtkWidget*)>(
        window, "destroy", [this](GtkWidget*) { end(abortResponse); }));

    shownList().push_back(this);
    gtk_window_present(GTK_WINDOW(window));
    // GTK keeps its chain for Tab only for a focus given to a shown window.
    gtk_widget_grab_focus(showing_->initialFocus);
}

GtkWidget* Alert::buildWindow(GtkWindow* parent)
{
    GtkWidget* window = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(window), "");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (parent) {
        gtk_window_set_transient_for(GTK_WINDOW(window), parent);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    }

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(window));
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
    gtk_widget_set_margin_start(row, 18);
    gtk_widget_set_margin_end(row, 18);
    gtk_widget_set_margin_top(row, 18);
    gtk_widget_set_margin_bottom(row, 10);
    gtk_box_pack_start(GTK_BOX(content), row, TRUE, TRUE, 0);

    GtkWidget* icon = gtk_image_new_from_icon_name(iconName(style_), GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_box_pack_start(GTK_BOX(row), column, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(column), textLabel(messageText_, true), FALSE, FALSE, 0);
    if (!informativeText_.empty())
        gtk_box_pack_start(GTK_BOX(column), textLabel(informativeText_, false), FALSE, FALSE, 0);
    if (GtkWidget* accessory = accessoryView_.get()) {
        if (GtkWidget* previous = gtk_widget_get_parent(accessory))
            gtk_container_remove(GTK_CONTAINER(previous), accessory);
        gtk_widget_set_halign(accessory, GTK_ALIGN_START);
        gtk_widget_set_margin_top(accessory, 4);
        gtk_box_pack_start(GTK_BOX(column), accessory, FALSE, FALSE, 0);
        // A widget nobody showed is meant to be seen with all it holds.
        if (!gtk_widget_get_visible(accessory))
            gtk_widget_show_all(accessory);
    }
    if (showsSuppressionButton_) {
        GtkWidget* check = gtk_check_button_new_with_label(displayable(suppressionButtonTitle_).c_str());
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), suppressionButtonState_);
        gtk_widget_set_margin_top(check, 4);
        gtk_box_pack_start(GTK_BOX(column), check, FALSE, FALSE, 0);
        showing_->suppressionButton = check;
    }
    gtk_widget_show(row);
    gtk_widget_show(icon);
    gtk_widget_show(column);
    GList* children = gtk_container_get_children(GTK_CONTAINER(column));
    for (GList* node = children; node; node = node->next) {
        if (node->data != accessoryView_.get())
            gtk_widget_show(GTK_WIDGET(node->data));
    }
    g_list_free(children);

    // Right to left in the order added, as the first answer is the one nearest the eye's end.
    GtkWidget* returnButton = nullptr;
    for (auto it = buttons_.rbegin(); it != buttons_.rend(); ++it) {
        Button& button = **it;
        button.widget_ = gtk_button_new_with_label(displayable(button.title_).c_str());
        gtk_dialog_add_action_widget(GTK_DIALOG(window), button.widget_, int(button.response_));
        gtk_widget_show(button.widget_);
        if (button.keyEquivalent_ == "\r" && button.modifierMask_ == ModifierFlags::none)
            returnButton = button.widget_;
    }
    GtkWidget* actions = gtk_widget_get_parent(buttons_.front()->widget_);
    gtk_widget_set_margin_start(actions, 12);
    gtk_widget_set_margin_end(actions, 12);
    gtk_widget_set_margin_bottom(actions, 12);
    if (returnButton) {
        gtk_widget_set_can_default(returnButton, TRUE);
        gtk_style_context_add_class(gtk_widget_get_style_context(returnButton), GTK_STYLE_CLASS_SUGGESTED_ACTION);
        gtk_window_set_default(GTK_WINDOW(window), returnButton);
    }
    // Focused once shown (see `show`): a focus given before would leave Tab where it is.
    showing_->initialFocus = returnButton ? returnButton : buttons_.front()->widget_;
    return window;
}

Alert::ModalResponse Alert::closeResponse() const
{
    for (const auto& button : buttons_) {
        if (button->keyEquivalent_ == "\x1b" && button->modifierMask_ == ModifierFlags::none)
            return button->response_;
    }
    return abortResponse;
}

bool Alert::handleKey(const GdkEventKey& event)
{
    if (!showing_ || showing_->ended)
        return false;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(showing_->window.get()));
    const Button* focusedButton = nullptr;
    for (const auto& button : buttons_) {
        if (focus && button->widget_ == focus)
            focusedButton = button.get();
    }
    const bool typing = focus && GTK_IS_EDITABLE(focus);
    guint key = gdk_keyval_to_lower(event.keyval);
    if (key == GDK_KEY_KP_Enter || key == GDK_KEY_ISO_Enter)
        key = GDK_KEY_Return;
    // Shift is part of a letter's key equivalent; for other keys it makes the character.
    const guint held = event.state & gtk_accelerator_get_default_mod_mask();
    const guint relevant = isLetterKey(key) ? ~0u : ~guint(GDK_SHIFT_MASK);

    for (const auto& button : buttons_) {
        auto accelerator = GtkAccelerator::from(button->keyEquivalent_, button->modifierMask_);
        if (!accelerator || accelerator->keyval != key || (held & relevant) != (accelerator->modifiers & relevant))
            continue;
        if (key == GDK_KEY_Return && focusedButton && !focusedButton->requiresDeliberatePress_)
            return false; // the button the user moved to answers
        if (typing && accelerator->modifiers == 0 && key != GDK_KEY_Return && key != GDK_KEY_Escape)
            return false; // the key goes into the text field
        gtk_button_clicked(GTK_BUTTON(button->widget_));
        return true;
    }
    if (key == GDK_KEY_Escape && (held & relevant) == 0) {
        end(abortResponse);
        return true;
    }
    // Return on a button that wants a deliberate press does nothing, rather than press it.
    return key == GDK_KEY_Return && focusedButton && focusedButton->requiresDeliberatePress_;
}

void Alert::end(ModalResponse response)
{
    if (!showing_ || showing_->ended)
        return;
    Showing& showing = *showing_;
    showing.ended = true;
    if (showing.suppressionButton)
        suppressionButtonState_ = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(showing.suppressionButton));
    // The accessory outlives the window: the caller reads its state after the answer.
    if (GtkWidget* accessory = accessoryView_.get()) {
        if (GtkWidget* parent = gtk_widget_get_parent(accessory))
            gtk_container_remove(GTK_CONTAINER(parent), accessory);
    }
    for (auto& button : buttons_)
        button->widget_ = nullptr;
    auto& shown = shownList();
    shown.erase(std::remove(shown.begin(), shown.end(), this), shown.end());
    GtkWidget* window = showing.window.get();
    if (showing.applicationModal)
        endApplicationModal(GTK_WINDOW(window));
    showing.connections.clear();
    if (!gtk_widget_in_destruction(window))
        gtk_widget_destroy(window);

    std::unique_ptr<Showing> ended = std::move(showing_);
    auto completion = std::move(ended->completion);
    auto self = std::move(ended->self); // keeps this alert through its handler
    ended.reset();
    if (completion)
        completion(response);
}

} // namespace kx
