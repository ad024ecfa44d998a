// The container's contracts (main thread, a valid container, data sources registered before
// the first read): a breach is a programming error that stops the process, logged first.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

inline void containerPrecondition(bool condition, const char* what)
{
    if (condition)
        return;
    RKLog(std::string("KVDocumentContainer: precondition failed: ") + what, RKLogKind::general);
    std::fprintf(stderr, "KVDocumentContainer: precondition failed: %s\n", what);
    std::abort();
}

inline void containerOnMainThread(const char* what)
{
    containerPrecondition(MainQueue::isMainThread(), what);
}

} // namespace kx
