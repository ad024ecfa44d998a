// korvel-x as the application tests run it: the real application, which also writes the name
// of each launch step and handled event, one a line, to the file $KX_TEST_STEPS, and lists what
// can be clicked in its windows to the file $KX_TEST_WIDGETS on SIGUSR2. $KX_TEST_MINUTE_MS
// and $KX_TEST_BACKUP_MS shorten the minutes of autosaves and of backups. With $KX_TEST_OPENED
// what the application would hand to the desktop to open (links, files, folders) is written
// there, one address a line, and nothing opens. $KX_TEST_HANDOVER_KILL_AT names a step of the
// hand-over of a working copy's work into its folder ("stage", "rename", "flush", "last" or
// "done") before which the application kills itself, as a crash would.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "App/documents/DocumentController.h"
#include "App/documents/container/KVContainerBackups.h"
#include "App/documents/container/KVFolderHandOver.h"
#include "App/application/PDApplication.h"
#include "Platform/UI/Workspace.h"
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
    if (const char* minute = std::getenv("KX_TEST_MINUTE_MS"))
        kx::DocumentController::setAutosavingDelayForTesting(std::chrono::milliseconds(std::strtol(minute, nullptr, 10)));
    if (const char* minute = std::getenv("KX_TEST_BACKUP_MS"))
        kx::KVContainerBackups::setIntervalForTesting(std::chrono::milliseconds(std::strtol(minute, nullptr, 10)));
    if (const char* step = std::getenv("KX_TEST_HANDOVER_KILL_AT")) {
        kx::KVFolderHandOver::setFaultHookForTesting([kill = std::string(step)](std::string_view at, const std::string&) {
            if (at == kill)
                ::raise(SIGKILL);
            return 0;
        });
    }
    if (const char* file = std::getenv("KX_TEST_OPENED")) {
        const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            kx::Workspace::shared().setURLOpenerForTesting([fd](const std::string& url) {
                const std::string line = url + "\n";
                return ::write(fd, line.data(), line.size()) == ssize_t(line.size());
            });
        }
    }
    if (const char* file = std::getenv("KX_TEST_WIDGETS"))
        kxtest::reportClickableWidgetsOnSignal(file);
    return kx::PDApplication::main(argc, argv, options);
}
