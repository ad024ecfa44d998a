// A process-wide setting that a test changes, for as long as the guard lives: a hook of the code
// under test (a ...ForTesting setter, a handler, an injected fault, the main menu) or an
// environment variable. It is set back in every case, also when an assertion leaves the test
// early: a setting left behind reaches every later test of the program, and a hook that refers
// to the test's locals is then called after they are gone.
//
//     kxtest::ScopedSetting timeout(kx::NimbetViewController::setPageAnswerTimeoutForTesting, 500ms);
//     kxtest::ScopedSetting opener(kx::Workspace::shared(), &kx::Workspace::setURLOpenerForTesting, opener);
//     kxtest::ScopedSetting bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
//
// At its end the setter is given `after`: by default the empty value (no hook, std::nullopt, 0),
// else what the test read before. The test may call the setter again meanwhile. An environment
// variable gets back the value it had (nullptr: unset).
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

namespace kxtest {

class ScopedSetting {
public:
    template <typename Value>
    ScopedSetting(void (*setter)(Value), std::remove_cvref_t<Value> value, std::remove_cvref_t<Value> after = {})
        : reset_([setter, after = std::move(after)]() mutable { setter(std::move(after)); })
    {
        setter(std::move(value));
    }

    template <typename Object, typename Value>
    ScopedSetting(Object& object, void (Object::*setter)(Value), std::remove_cvref_t<Value> value,
                  std::remove_cvref_t<Value> after = {})
        : reset_([&object, setter, after = std::move(after)]() mutable { (object.*setter)(std::move(after)); })
    {
        (object.*setter)(std::move(value));
    }

    ScopedSetting(const char* variable, const char* value);

    ~ScopedSetting() { reset_(); }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

private:
    std::function<void()> reset_;
};

} // namespace kxtest
