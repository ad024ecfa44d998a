#include <cstring>
#include <iostream>

#include <gtk/gtk.h>

#include "Platform/Foundation/Bundle.h"

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        const auto& bundle = kx::Bundle::main();
        std::cout << bundle.stringForInfoKey("CFBundleName").value_or("korvel-x") << ' '
                  << bundle.stringForInfoKey("CFBundleShortVersionString").value_or("") << std::endl;
        return 0;
    }

    // The application object takes over from here once it exists; until then the process
    // starts GTK, registers its application id and leaves again.
    GtkApplication* app = gtk_application_new(kx::Bundle::main().bundleIdentifier().c_str(),
                                              G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(+[](GApplication*, gpointer) {}), nullptr);
    int status = g_application_run(G_APPLICATION(app), argc, argv);
    g_object_unref(app);
    return status;
}
