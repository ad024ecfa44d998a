#include "support/ModalAnswerer.h"

#include <gtest/gtest.h>

#include "Platform/Foundation/MainQueue.h"
#include "support/Spin.h"

namespace kxtest {

using Clock = std::chrono::steady_clock;

struct ModalAnswerer::State {
    std::string what;
    std::function<GtkWidget*()> find;
    std::function<void(GtkWidget*)> answer;
    int times = 1;
    std::chrono::milliseconds timeout;
    kxtest::SourceLocation where;

    int answered = 0;
    Clock::time_point deadline;
    // The window answered last, while it lives.
    GWeakRef last;
    bool gaveUp = false;
    std::shared_ptr<kx::MainQueue::Timer> timer;

    ~State() { g_weak_ref_clear(&last); }

    void giveUp(const std::string& why)
    {
        if (!gaveUp)
            ADD_FAILURE_AT(where.file_name(), int(where.line())) << what << " " << why;
        gaveUp = true;
    }

    void look()
    {
        GtkWidget* window = find();
        GtkWidget* answeredLast = static_cast<GtkWidget*>(g_weak_ref_get(&last));
        if (answeredLast)
            g_object_unref(answeredLast); // only compared; `find` holds it in the tree of windows
        const bool late = Clock::now() >= deadline;
        if (window && window == answeredLast) {
            if (late) {
                giveUp("stayed open " + std::to_string(timeout.count()) + " ms after its answer; closed");
                gtk_window_close(GTK_WINDOW(window));
            }
        } else if (window && gaveUp) {
            gtk_window_close(GTK_WINDOW(window));
        } else if (window && answered < times) {
            settle();
            // Taken before the answer, which may free the window (an alert destroys its own).
            g_weak_ref_set(&last, window);
            answer(window);
            ++answered;
            deadline = Clock::now() + timeout;
        } else if (answered < times && late) {
            giveUp("did not show within " + std::to_string(timeout.count()) + " ms (" + std::to_string(answered) + " of "
                   + std::to_string(times) + " answered); what shows later is closed");
        }
    }
};

ModalAnswerer::ModalAnswerer(std::string what, std::function<GtkWidget*()> find, std::function<void(GtkWidget*)> answer, int times,
                             std::chrono::milliseconds timeout, kxtest::SourceLocation where)
    : state_(std::make_shared<State>())
{
    state_->what = std::move(what);
    state_->find = std::move(find);
    state_->answer = std::move(answer);
    state_->times = times;
    state_->timeout = timeout;
    state_->where = where;
    state_->deadline = Clock::now() + timeout;
    g_weak_ref_init(&state_->last, nullptr);
    state_->timer = kx::MainQueue::repeating(std::chrono::milliseconds(25), [weak = std::weak_ptr<State>(state_)] {
        if (auto state = weak.lock())
            state->look();
    });
}

ModalAnswerer::~ModalAnswerer()
{
    state_->timer->cancel();
}

int ModalAnswerer::answered() const
{
    return state_->answered;
}

} // namespace kxtest
