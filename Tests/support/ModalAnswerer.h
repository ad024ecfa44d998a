// Answers windows that run modal loops of their own (a panel, a question) from inside those
// loops, as a user would. The test cannot wait for such a window with spinUntil: the call that
// shows it returns only once it is answered, so the answer comes from a timer that looks for the
// window now and then. That loop ends with its window only, and no deadline of a wait reaches
// it: an answerer that gives up closes the window, as a window manager's close button would.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "support/SourceLocation.h"

namespace kxtest {

class ModalAnswerer {
public:
    // Every 25 ms asks `find` for the window; one it has not answered yet goes to `answer` once
    // it has settled, until `times` windows were answered. When the next window does not show
    // within `timeout` (from the start, then from the answer before), or an answered window is
    // still shown `timeout` after its answer, the test fails naming `what` and `where`, and
    // every window `find` gives from then on is closed, until the answerer goes.
    ModalAnswerer(std::string what, std::function<GtkWidget*()> find, std::function<void(GtkWidget*)> answer, int times = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10),
                  kxtest::SourceLocation where = kxtest::SourceLocation::current());
    ~ModalAnswerer();
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    int answered() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace kxtest
