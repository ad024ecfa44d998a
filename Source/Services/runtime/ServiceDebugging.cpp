#include "Services/runtime/ServiceDebugging.h"

#include <cstdio>

namespace kx::ServiceDebugging {

void Logger::write(const std::string& line)
{
    // One write per line, so that lines from several threads do not interleave.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

} // namespace kx::ServiceDebugging
