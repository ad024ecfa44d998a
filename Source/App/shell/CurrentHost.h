// Facts about the machine the application runs on.
#pragma once

#include <string>
#include <vector>

namespace kx {

class CurrentHost {
public:
    // The IPv4 addresses of the interfaces that are up, running and not loopback, in the
    // system's interface order (neither sorted nor de-duplicated). Empty when the interface
    // list cannot be read.
    static std::vector<std::string> IPv4Addresses();
};

} // namespace kx
