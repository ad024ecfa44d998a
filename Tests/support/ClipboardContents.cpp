#include "support/ClipboardContents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "support/Spin.h"

namespace kxtest {

namespace {

// Shared with GTK's callback, which may come after the wait has given up.
template <class Value>
struct Answer {
    bool done = false;
    Value value{};
};

template <class Value>
std::optional<Value> waitFor(const std::shared_ptr<Answer<Value>>& answer, const char* what, std::chrono::milliseconds timeout,
                             kxtest::SourceLocation where)
{
    const auto ownDeadline = std::chrono::steady_clock::now() + timeout;
    if (spinUntil([&] { return answer->done; }, timeout, where))
        return answer->value;
    // A wait around this one that ran out first decides for itself what that means.
    if (std::chrono::steady_clock::now() >= ownDeadline)
        ADD_FAILURE_AT(where.file_name(), int(where.line())) << "the clipboard's owner did not answer for its " << what << " within "
                                                              << timeout.count() << " ms";
    return std::nullopt;
}

} // namespace

std::optional<std::string> clipboardText(GtkClipboard* clipboard, std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    auto answer = std::make_shared<Answer<std::optional<std::string>>>();
    gtk_clipboard_request_text(
        clipboard,
        [](GtkClipboard*, const gchar* text, gpointer data) {
            std::unique_ptr<std::shared_ptr<Answer<std::optional<std::string>>>> answer(
                static_cast<std::shared_ptr<Answer<std::optional<std::string>>>*>(data));
            if (text)
                (*answer)->value = text;
            (*answer)->done = true;
        },
        new std::shared_ptr(answer));
    return waitFor(answer, "text", timeout, where).value_or(std::nullopt);
}

bool clipboardOffers(GtkClipboard* clipboard, GdkAtom target, std::chrono::milliseconds timeout, kxtest::SourceLocation where)
{
    auto answer = std::make_shared<Answer<std::vector<GdkAtom>>>();
    gtk_clipboard_request_targets(
        clipboard,
        [](GtkClipboard*, GdkAtom* atoms, gint count, gpointer data) {
            std::unique_ptr<std::shared_ptr<Answer<std::vector<GdkAtom>>>> answer(
                static_cast<std::shared_ptr<Answer<std::vector<GdkAtom>>>*>(data));
            if (atoms)
                (*answer)->value.assign(atoms, atoms + std::max(count, 0));
            (*answer)->done = true;
        },
        new std::shared_ptr(answer));
    const auto targets = waitFor(answer, "targets", timeout, where);
    return targets && std::find(targets->begin(), targets->end(), target) != targets->end();
}

} // namespace kxtest
