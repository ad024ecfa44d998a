// The account tests: real windows under Xvfb, a real Secret Service on a D-Bus session of
// their own (Tests/support/with-keyring.sh, run inside dbus-run-session), and the stand-in back
// end over HTTP. The application runs in the "local" environment pointed at that stand-in;
// its settings, caches and data live in a temporary folder.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "AccountTestEnvironment.h"
#include "App/account/AppServices.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/TestPaths.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        fprintf(stderr, "kx_account_tests: no D-Bus session; run through dbus-run-session and with-keyring.sh\n");
        return 1;
    }
    const kxtest::TemporaryHome home;
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    if (!gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "kx_account_tests: no display; run under xvfb-run\n");
        return 1;
    }
    // The pages learn the back end of the current environment, as in the application.
    kx::WebViewController::setEndpointsJSONSource([] { return kx::AppServices::endpointsJSON(); });
    if (!kxtest::AccountTestEnvironment::start()) {
        fprintf(stderr, "kx_account_tests: the stand-in back end did not start\n");
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    kxtest::AccountTestEnvironment::stop();
    kx::UserDefaults::standard().synchronize(); // before the folder goes
    return status;
}
