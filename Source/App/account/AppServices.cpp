#include "App/account/AppServices.h"

#include <nlohmann/json.hpp>

namespace kx {

const AppServices::Endpoints& AppServices::currentEndpoints()
{
    // The production environment; the choice among environments comes with sign-in.
    static const Endpoints production{
        "https://api.korvel.com/",
        "https://store.korvel.com/",
        "https://private-store.korvel.com/",
        "https://events.korvel.com/track",
    };
    return production;
}

std::string AppServices::endpointsJSON()
{
    return endpointsJSON(currentEndpoints());
}

std::string AppServices::endpointsJSON(const Endpoints& endpoints)
{
    try {
        return nlohmann::json{
            {"api", endpoints.api},
            {"publicStore", endpoints.publicStore},
            {"privateStore", endpoints.privateStore},
            {"tracking", endpoints.tracking},
        }.dump();
    } catch (const nlohmann::json::exception&) {
        return "{}"; // text that is not UTF-8
    }
}

} // namespace kx
