// The menu and edit actions of the web view: the page decides through its MenuActionTarget,
// WebKit's own editing serves when the page defers, does not answer in time or offers no such
// service.
#include <any>
#include <utility>

#include "App/web/WebBridgeWebView.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "Platform/UI/Workspace.h"

namespace kx::WebBridge {

namespace {

// How long validation waits for the page's answer for a whole menu, and for one action.
constexpr double wholeMenuTimeout = 1.0;
constexpr double actionTimeout = 0.5;

WebView* alive(const Responder::WeakRef& ref)
{
    return static_cast<WebView*>(ref.get());
}

} // namespace

std::optional<std::string> WebView::webAction(Sender sender)
{
    NativeMenuItem* item = sender ? sender->asMenuItem() : nullptr;
    if (!item)
        return std::nullopt;
    if (const auto* name = std::any_cast<std::string>(&item->representedObject()))
        return *name;
    return std::nullopt;
}

void WebView::validateWebAction(const std::string& action, std::function<void(std::optional<ActionStates>)> completion)
{
    menuActionTarget_->validate({action}, [completion = std::move(completion)](auto result) {
        if (result.isFailure())
            return completion(std::nullopt);
        completion(ActionState::states(result.value()));
    });
}

void WebView::dispatchWebAction(const std::string& action, std::function<void(Result<bool, ServiceError>)> completion)
{
    menuActionTarget_->dispatch({action}, [completion = std::move(completion)](auto result) {
        if (!completion)
            return;
        if (result.isFailure())
            return completion(Result<bool, ServiceError>::failure(result.error()));
        completion(Result<bool, ServiceError>::success(result.value().success));
    });
}

std::optional<ActionState> WebView::webActionState(const std::string& action)
{
    // The view may go while the main loop turns in a wait: everything after one goes
    // through `self`.
    const WeakRef ref = weakRef();
    RunLoopWait::waitUsingRecursiveRunloop(
        [ref] {
            WebView* self = alive(ref);
            return self && self->isPreparingValidatedActionCache_;
        },
        wholeMenuTimeout, [] {});
    WebView* self = alive(ref);
    if (!self)
        return std::nullopt;
    if (self->validatedActionCache_) {
        if (auto cached = self->validatedActionCache_->find(action); cached != self->validatedActionCache_->end())
            return cached->second;
    }
    auto slot = std::make_shared<std::optional<ActionState>>();
    self->validateWebAction(action, [ref, slot, action](std::optional<ActionStates> answer) {
        ActionState state = ActionState::deferToNative();
        if (answer) {
            if (auto found = answer->find(action); found != answer->end())
                state = found->second;
        }
        *slot = state;
        // A late answer still serves the menus that are open when it comes.
        if (WebView* view = alive(ref); view && view->validatedActionCache_)
            view->validatedActionCache_->insert_or_assign(action, state);
    });
    RunLoopWait::waitUsingRecursiveRunloop([slot] { return !slot->has_value(); }, actionTimeout, [] {});
    return *slot;
}

bool WebView::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    const std::string& selector = item.action();
    if (selector.empty())
        return false;
    std::string name;
    const auto& natives = nativeSelectorToActionMap();
    if (auto native = natives.find(selector); native != natives.end()) {
        name = native->second;
    } else if (selector == WebBridge::selector) {
        auto action = webAction(&item);
        if (!action)
            return false;
        name = *action;
    } else {
        return Responder::validateUserInterfaceItem(item);
    }
    // A toolbar item has no title or check mark to take the page's answer.
    NativeMenuItem* menuItem = item.asMenuItem();
    if (!menuItem)
        return false;
    auto keep = menuItem->shared_from_this();
    const WeakRef ref = weakRef();
    const bool nested = RunLoopWait::isWaiting();
    const bool menuOpen = menuCount_ > 0;
    const std::optional<ActionState> answer = webActionState(name);
    // A key equivalent inside another action's wait: no answer can come in time, and WebKit's
    // guess would drop an action the page may well take. Performing asks the page again.
    if (!answer && nested && !menuOpen)
        return true;
    const ActionState state = answer.value_or(ActionState::deferToNative());
    switch (state.kind) {
    case ActionState::Kind::on:
        menuItem->setHidden(false);
        if (state.options && state.options->label)
            menuItem->setTitle(*state.options->label);
        menuItem->setState(state.options && state.options->checked == true ? NativeMenuItem::State::on
                                                                           : NativeMenuItem::State::off);
        return true;
    case ActionState::Kind::off:
        menuItem->setHidden(false);
        return false;
    case ActionState::Kind::hidden:
        menuItem->setHidden(true);
        return false;
    case ActionState::Kind::deferToNative:
        break;
    }
    if (selector == WebBridge::selector)
        return false;
    WebView* self = alive(ref);
    return self && self->validateNatively(selector);
}

void WebView::performWebAction(Sender sender)
{
    auto action = webAction(sender);
    if (!action)
        return;
    // Behind an edit action that waits, not ahead of it.
    if (RunLoopWait::isWaiting())
        return deferAction(std::move(*action));
    dispatchWebActionNow(*action);
}

void WebView::performHybridAction(const HybridAction& action, Sender)
{
    // Inside another wait this action cannot wait for the page, and taking WebKit's editing for
    // it would act behind the page's back: it runs, in order, once no wait spins.
    if (RunLoopWait::isWaiting())
        return deferAction(action);
    performHybridActionNow(action);
}

void WebView::deferAction(DeferredAction action)
{
    deferredActions_.push_back(std::move(action));
    if (std::exchange(deferredActionsScheduled_, true))
        return;
    RunLoopWait::whenNotWaiting([ref = weakRef()] {
        if (WebView* self = alive(ref)) {
            self->deferredActionsScheduled_ = false;
            self->performDeferredActions();
        }
    });
}

void WebView::performDeferredActions()
{
    const WeakRef ref = weakRef();
    while (!deferredActions_.empty()) {
        const DeferredAction action = deferredActions_.front();
        deferredActions_.pop_front();
        if (const auto* hybrid = std::get_if<HybridAction>(&action))
            performHybridActionNow(*hybrid);
        else
            dispatchWebActionNow(std::get<std::string>(action));
        if (!alive(ref))
            return;
    }
}

void WebView::dispatchWebActionNow(const std::string& action)
{
    dispatchWebAction(action, [ref = weakRef(), action](Result<bool, ServiceError> result) {
        if (result.isSuccess() && result.value())
            return;
        WebView* self = alive(ref);
        if (auto handler = self ? self->actionFailureHandler_ : nullptr)
            handler(action);
        else
            Workspace::shared().beep();
    });
}

void WebView::performHybridActionNow(const HybridAction& action)
{
    const WeakRef ref = weakRef();
    const ActionState state = webActionState(action.action).value_or(ActionState::deferToNative());
    WebView* self = alive(ref);
    if (!self)
        return;
    switch (state.kind) {
    case ActionState::Kind::on:
        self->dispatchWebActionNow(action.action);
        return;
    case ActionState::Kind::deferToNative:
        self->performNatively(action);
        return;
    case ActionState::Kind::off:
    case ActionState::Kind::hidden:
        return;
    }
}

bool WebView::validateNatively(const std::string& selector)
{
    WebKitEditorState* editor = webkit_web_view_get_editor_state(wkWebView());
    if (selector == HybridAction::undo.nativeSelector)
        return webkit_editor_state_is_undo_available(editor);
    if (selector == HybridAction::redo.nativeSelector)
        return webkit_editor_state_is_redo_available(editor);
    if (selector == HybridAction::copy.nativeSelector)
        return webkit_editor_state_is_copy_available(editor);
    if (selector == HybridAction::paste.nativeSelector)
        return webkit_editor_state_is_paste_available(editor);
    // Deleting, like cutting, needs a selection in editable content.
    if (selector == HybridAction::cut.nativeSelector || selector == HybridAction::deleteAction.nativeSelector)
        return webkit_editor_state_is_cut_available(editor);
    return selector == HybridAction::selectAll.nativeSelector;
}

void WebView::performNatively(const HybridAction& action)
{
    // Undo and redo only with something to undo or redo; the other commands do nothing
    // without a selection or an editable place anyway.
    if ((action.action == HybridAction::undo.action || action.action == HybridAction::redo.action)
        && !validateNatively(action.nativeSelector))
        return;
    static const std::map<std::string, const char*> commands{
        {HybridAction::undo.action, WEBKIT_EDITING_COMMAND_UNDO},
        {HybridAction::redo.action, WEBKIT_EDITING_COMMAND_REDO},
        {HybridAction::cut.action, WEBKIT_EDITING_COMMAND_CUT},
        {HybridAction::copy.action, WEBKIT_EDITING_COMMAND_COPY},
        {HybridAction::paste.action, WEBKIT_EDITING_COMMAND_PASTE},
        {HybridAction::selectAll.action, WEBKIT_EDITING_COMMAND_SELECT_ALL},
        {HybridAction::deleteAction.action, "Delete"}, // WebKit's own editing command of that name
    };
    auto command = commands.find(action.action);
    if (command != commands.end())
        webkit_web_view_execute_editing_command(wkWebView(), command->second);
}

void WebView::menuWillOpen(NativeMenu&)
{
    if (menuCount_ == 0) {
        isPreparingValidatedActionCache_ = true;
        validatedActionCache_.emplace();
        const WeakRef ref = weakRef();
        validateWebAction("*", [ref](std::optional<ActionStates> answer) {
            WebView* self = alive(ref);
            if (!self)
                return;
            self->isPreparingValidatedActionCache_ = false;
            // Dropped when the menus closed meanwhile.
            if (!self->validatedActionCache_ || !answer)
                return;
            for (auto& [action, state] : *answer)
                self->validatedActionCache_->insert_or_assign(action, state);
        });
    }
    ++menuCount_;
}

void WebView::menuDidClose()
{
    if (menuCount_ == 0)
        return;
    if (--menuCount_ == 0) {
        isPreparingValidatedActionCache_ = false;
        validatedActionCache_.reset();
    }
}

} // namespace kx::WebBridge
