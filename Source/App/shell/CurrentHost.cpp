#include "App/shell/CurrentHost.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <glib.h>

namespace kx {

std::vector<std::string> CurrentHost::IPv4Addresses()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    auto addresses = IPv4Addresses(list);
    freeifaddrs(list);
    return addresses;
}

std::vector<std::string> CurrentHost::IPv4Addresses(const ifaddrs* list)
{
    std::vector<std::string> addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if ((entry->ifa_flags & (IFF_UP | IFF_LOOPBACK | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING))
            continue;
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        char host[NI_MAXHOST];
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        if (g_utf8_validate(host, -1, nullptr))
            addresses.emplace_back(host);
    }
    return addresses;
}

} // namespace kx
