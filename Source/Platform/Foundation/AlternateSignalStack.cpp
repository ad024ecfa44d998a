#include "Platform/Foundation/AlternateSignalStack.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace kx {

AlternateSignalStack::AlternateSignalStack(std::size_t size)
{
    if (threadHasOne())
        return;
    const long page = ::sysconf(_SC_PAGESIZE);
    const long minimum = ::sysconf(_SC_MINSIGSTKSZ);
    const std::size_t pageSize = page > 0 ? std::size_t(page) : 4096;
    size = std::max(size, minimum > 0 ? std::size_t(minimum) * 4 : std::size_t(0));
    size = (size + pageSize - 1) / pageSize * pageSize;
    // A guard page below the stack: a handler that runs past its end faults at once instead
    // of writing over whatever lies below.
    void* mapping = ::mmap(nullptr, size + pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    ::mprotect(mapping, pageSize, PROT_NONE);
    stack_t alternate{};
    alternate.ss_sp = static_cast<char*>(mapping) + pageSize;
    alternate.ss_size = size;
    if (::sigaltstack(&alternate, nullptr) != 0) {
        ::munmap(mapping, size + pageSize);
        return;
    }
    base_ = mapping;
    mapped_ = size + pageSize;
    stack_ = alternate.ss_sp;
}

AlternateSignalStack::~AlternateSignalStack()
{
    if (!base_)
        return;
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == stack_ && !(current.ss_flags & SS_ONSTACK)) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(base_, mapped_);
    }
    // Otherwise someone else's stack is in place now, or a handler runs on ours: the mapping
    // stays rather than pulling it from under them.
}

bool AlternateSignalStack::threadHasOne()
{
    stack_t current{};
    return ::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE);
}

} // namespace kx
