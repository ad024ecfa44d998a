// The application tests: korvel-x itself (as kx_application_host) started as a process, under
// Xvfb (the Wayland journey under a headless weston), on a D-Bus session of their own with an unlocked keyring (Tests/support/with-keyring.sh
// inside dbus-run-session), against one stand-in back end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "ApplicationTests.h"
#include "StarvedTime.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const kxtest::TemporaryHome home;
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))) {
        fprintf(stderr, "kx_application_tests: run under dbus-run-session, with-keyring.sh and xvfb-run (or with-weston.sh)\n");
        return 1;
    }
    // The waits count the time in which the applications could run.
    kxtest::setUncountedTime([] { return kxtest::StarvedTime::shared().total(); });
    if (!kxtest::applicationBackend().start()) {
        fprintf(stderr, "kx_application_tests: the stand-in back end did not start\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
