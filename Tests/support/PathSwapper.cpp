#include "support/PathSwapper.h"

#include <fcntl.h>
#include <stdio.h>

namespace kxtest {

PathSwapper::PathSwapper(std::filesystem::path first, std::filesystem::path second)
    : thread_([this, first = std::move(first), second = std::move(second)] {
        while (running_)
            ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE);
    })
{
}

PathSwapper::~PathSwapper()
{
    running_ = false;
    thread_.join();
}

} // namespace kxtest
