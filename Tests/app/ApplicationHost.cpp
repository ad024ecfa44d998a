// korvel-x as the application tests run it: the real application, which also writes the name
// of each launch step and handled event, one a line, to the file $KX_TEST_STEPS, and lists what
// can be clicked in its windows to the file $KX_TEST_WIDGETS on SIGUSR2.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "App/shell/application/PDApplication.h"
#include "host/ClickableWidgets.h"

int main(int argc, char** argv)
{
    kx::PDApplication::Options options;
    if (const char* file = std::getenv("KX_TEST_STEPS")) {
        const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            options.stepObserver = [fd](const std::string& step) {
                const std::string line = step + "\n";
                // One write a line: the test reads the file while the application runs.
                if (::write(fd, line.data(), line.size()) < 0)
                    return;
            };
        }
    }
    if (const char* file = std::getenv("KX_TEST_WIDGETS"))
        kxtest::reportClickableWidgetsOnSignal(file);
    return kx::PDApplication::main(argc, argv, options);
}
