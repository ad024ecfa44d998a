#pragma once

#include "support/StandInBackend.h"

namespace kxtest {

// The stand-in back end of the test program.
StandInBackend& applicationBackend();

} // namespace kxtest
