// A descriptor that closes itself, and writing a whole buffer through short writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "Platform/Foundation/FileDescriptor.h"

namespace {

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(FileDescriptor, ClosesWhenItGoesOrIsReplacedAndNotWhenMovedAway)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const int first = ends[0], second = ends[1];
    {
        kx::FileDescriptor held(first);
        kx::FileDescriptor moved(std::move(held));
        EXPECT_EQ(held.get(), -1);
        EXPECT_TRUE(isOpen(first));
        moved = kx::FileDescriptor(second);
        EXPECT_FALSE(isOpen(first)); // the one held before is closed at once
        EXPECT_TRUE(isOpen(second));
    }
    EXPECT_FALSE(isOpen(second));
}

TEST(FileDescriptor, WriteAllDeliversEveryByteThroughShortWritesOrSaysWhyNot)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    kx::FileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
    // Far more than a pipe holds, so that the writer is cut short and goes on.
    std::string sent(1 << 20, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = char('a' + i % 26);
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t got; (got = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;)
            received.append(buffer, std::size_t(got));
    });
    EXPECT_EQ(kx::writeAll(writeEnd.get(), sent.data(), sent.size()), 0);
    writeEnd = kx::FileDescriptor();
    reader.join();
    EXPECT_EQ(received, sent);

    EXPECT_EQ(kx::writeAll(readEnd.get(), "x", 1), EBADF); // the read end of a pipe
    EXPECT_EQ(kx::writeAll(readEnd.get(), "", 0), 0);
}
