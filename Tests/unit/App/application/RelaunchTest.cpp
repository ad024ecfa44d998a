// The moved copy is started without a shell and waits until the old process has ended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "App/application/Relaunch.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::Relaunch;

TEST(Relaunch, TheNewCopyStartsInASessionOfItsOwnAndWaitsForTheOldOne)
{
    kxtest::TemporaryDirectory folder;
    // The "moved copy": notes what it was given once the pipe from the old process ends.
    const fs::path copy = folder / "it's moved" / "korvel-x";
    const fs::path notes = folder / "notes";
    kx::FileSystem::atomicWrite(copy, "#!/bin/sh\ncat <&3 >/dev/null\n{ echo \"fd=$KX_RELAUNCH_WAIT_FD\"; echo \"image=$KX_DETACH_DISK_IMAGE\";"
                                      " echo \"sid=$(cut -d' ' -f6 /proc/$$/stat) pid=$$\"; } > '" + notes.string() + "'\n");
    fs::permissions(copy, fs::perms::owner_all);

    int toOld[2];
    ASSERT_EQ(::pipe(toOld), 0);
    const pid_t old = ::fork();
    if (old == 0) {
        ::close(toOld[1]);
        const bool started = Relaunch::start(copy, kx::ApplicationsFolder::DiskImage{"/dev/loop3", "/home/ada/k.iso"});
        char go = 0;
        // The old process lives on until the test lets it end.
        if (::read(toOld[0], &go, 1) < 0 || !started)
            ::_exit(1);
        ::_exit(0);
    }
    ::close(toOld[0]);
    kxtest::spinFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(notes)) << "the copy went on while the old process lived";
    ASSERT_EQ(::write(toOld[1], "x", 1), 1);
    const int status = kxtest::waitForChild(old);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(kxtest::spinUntil([&] { return kx::FileSystem::readFile(notes).value_or("").find("sid=") != std::string::npos; }));
    const std::string text = kx::FileSystem::readFile(notes).value();
    EXPECT_NE(text.find("fd=3\n"), std::string::npos);
    EXPECT_NE(text.find("image=/dev/loop3\n/home/ada/k.iso\n"), std::string::npos);
    // Its own session: the pid leads it.
    const auto sid = text.substr(text.find("sid=") + 4, text.find(' ', text.find("sid=")) - text.find("sid=") - 4);
    const auto pid = text.substr(text.find("pid=") + 4, text.find('\n', text.find("pid=")) - text.find("pid=") - 4);
    EXPECT_EQ(sid, pid);
    ::close(toOld[1]);
}

TEST(Relaunch, ACopyStartedSoWaitsForTheEndOfThePipeAndTakesTheImageItWasGiven)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    int done[2];
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[1]);
        ::close(done[0]);
        ::dup2(pipeEnds[0], 100); // above any descriptor the test holds
        ::setenv(Relaunch::waitVariable, "100", 1);
        ::setenv(Relaunch::detachVariable, "/dev/loop5\n/tmp/image.iso", 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        Relaunch::waitForPredecessor("com.korvel.x.test", 0.1);
        const auto image = Relaunch::pendingDiskImage();
        const bool ok = image && image->device == "/dev/loop5" && image->backingFile == "/tmp/image.iso"
            && !std::getenv(Relaunch::waitVariable) && !std::getenv(Relaunch::detachVariable) && ::fcntl(100, F_GETFD) < 0;
        const char answer = ok ? 'y' : 'n';
        if (::write(done[1], &answer, 1) < 0)
            ::_exit(2);
        ::_exit(0);
    }
    ::close(pipeEnds[0]);
    ::close(done[1]);
    ::fcntl(done[0], F_SETFL, O_NONBLOCK);
    char answer = 0;
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_LT(::read(done[0], &answer, 1), 1) << "it did not wait";
    ::close(pipeEnds[1]);
    ASSERT_TRUE(kxtest::spinUntil([&] { return ::read(done[0], &answer, 1) == 1; }));
    EXPECT_EQ(answer, 'y');
    kxtest::waitForChild(child);
    ::close(done[0]);
}

TEST(Relaunch, AnImageNamedOddlyIsIgnored)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv(Relaunch::detachVariable, "/dev/sda\n/tmp/x", 1);
        Relaunch::waitForPredecessor("com.korvel.x.test", 0.1);
        ::_exit(Relaunch::pendingDiskImage() ? 1 : 0);
    }
    const int status = kxtest::waitForChild(child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
