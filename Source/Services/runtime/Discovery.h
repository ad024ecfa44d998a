// What a side announces in answer to "#discover": the services it implements, each with the
// fingerprint of its interface. {"services": {"__Beep__": {"fingerprint": "..."}}}
#pragma once

#include <map>
#include <string>

#include "Services/runtime/JSONCoding.h"

namespace kx::Discovery {

struct ServiceInfo {
    std::string fingerprint;
    KX_RECORD(ServiceInfo, fingerprint)
};

struct Info {
    std::map<std::string, ServiceInfo> services;
    KX_RECORD(Info, services)
};

} // namespace kx::Discovery
