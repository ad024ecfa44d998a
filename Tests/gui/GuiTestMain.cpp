// The window tests run on a real display (Xvfb in CI) with GTK initialised once. Settings,
// caches and data of the process (ours and WebKit's) live in a temporary folder, so that
// tests that switch shared settings never touch the user's own.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>

#include "App/account/AppServices.h"
#include "App/web/WebViewController.h"
#include "support/TestPaths.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const kxtest::TemporaryHome home;
    // The web processes outlive the folder by a moment; their shader cache is not needed.
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    if (!gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "kx_gui_tests: no display; run under xvfb-run\n");
        return 1;
    }
    // The pages learn the back end of the current environment, as in the application.
    kx::WebViewController::setEndpointsJSONSource([] { return kx::AppServices::endpointsJSON(); });
    return RUN_ALL_TESTS();
}
