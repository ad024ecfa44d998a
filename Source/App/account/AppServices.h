// The back-end services of the current environment: where the account API, the package
// stores and the event tracker live. Pages learn the endpoints through the bridge script.
#pragma once

#include <string>

namespace kx {

class AppServices {
public:
    // Absolute URLs of one environment's services.
    struct Endpoints {
        std::string api;
        std::string publicStore;
        std::string privateStore;
        std::string tracking;
    };

    static const Endpoints& currentEndpoints();

    // The current endpoints as one JSON object ("api", "publicStore", "privateStore",
    // "tracking"); "{}" when they cannot be encoded.
    static std::string endpointsJSON();
    static std::string endpointsJSON(const Endpoints& endpoints);
};

} // namespace kx
