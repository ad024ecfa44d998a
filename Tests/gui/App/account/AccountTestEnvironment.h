// What the account tests share: the one stand-in back end of the test program, and resetting
// the process-wide account objects between tests.
#pragma once

#include <chrono>
#include <string>

#include "support/StandInBackend.h"

namespace kxtest {

// How long an account page (login, telemetry, support chat) may take to answer.
inline constexpr auto accountPageTimeout = std::chrono::seconds(20);

class AccountTestEnvironment {
public:
    // Starts the stand-in and points the "local" environment at it.
    static bool start();
    static void stop();
    static StandInBackend& backend();

    // Signs out, forgets recorded requests and restores the switches and the environment.
    static void reset();
    // Signs the shared login controller in as a fresh user through a login link; the user's id.
    static std::string signInFreshUser(const std::string& name = "Ada Lovelace");
};

} // namespace kxtest
