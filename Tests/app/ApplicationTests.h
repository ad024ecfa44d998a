#pragma once

#include "support/StandInBackend.h"

namespace kxtest {

class ApplicationProcess;
struct ApplicationHome;

// The stand-in back end of the test program.
StandInBackend& applicationBackend();
// Signs a fresh user in through a second process's link, as the login page would.
void signInThroughSecondProcess(const ApplicationHome& home, ApplicationProcess& primary);

} // namespace kxtest
