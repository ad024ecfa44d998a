// The window tests run on a real display (Xvfb in CI) with GTK initialised once.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "kx_gui_tests: no display; run under xvfb-run\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
