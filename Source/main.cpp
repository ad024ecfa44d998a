#include <cstring>
#include <iostream>

#include <gtk/gtk.h>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

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
    const auto app = kx::GObjectRef<GtkApplication>::adopt(
        gtk_application_new(kx::Bundle::main().bundleIdentifier().c_str(), G_APPLICATION_NON_UNIQUE));
    const auto activated =
        kx::SignalConnection::connect<void(GApplication*)>(app.get(), "activate", [](GApplication*) {});
    return g_application_run(G_APPLICATION(app.get()), argc, argv);
}
