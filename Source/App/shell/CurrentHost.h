// Facts about the machine the application runs on.
#pragma once

#include <string>
#include <vector>

struct ifaddrs;

namespace kx {

class CurrentHost {
public:
    // The IPv4 addresses of the interfaces that are up, running and not loopback, in the
    // system's interface order (neither sorted nor de-duplicated). Empty when the interface
    // list cannot be read.
    static std::vector<std::string> IPv4Addresses();
    // The same choice from an interface list as getifaddrs gives it.
    static std::vector<std::string> IPv4Addresses(const ifaddrs* list);
};

} // namespace kx
