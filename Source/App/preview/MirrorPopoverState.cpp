#include "App/preview/MirrorPopoverState.h"

#include <glib.h>

namespace kx {

std::string MirrorPopoverState::message() const
{
    switch (kind) {
    case Kind::active:
        return activeMessage;
    case Kind::error:
        return error.localizedDescription;
    default:
        return genericMessage;
    }
}

std::string MirrorPopoverState::mainButtonTitle() const
{
    switch (kind) {
    case Kind::active:
        return "Stop";
    case Kind::starting:
        return "Starting\u2026";
    case Kind::stopping:
        return "Stopping\u2026";
    case Kind::error:
        return "Contact Support";
    default:
        return "Start";
    }
}

bool MirrorPopoverState::isShareURL(const std::string& url)
{
    if (url.empty() || url.size() > 64 * 1024 || !g_utf8_validate(url.data(), gssize(url.size()), nullptr))
        return false;
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7f)
            return false;
    }
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return false;
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool web = scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0)
        && host && *host;
    g_uri_unref(uri);
    return web;
}

} // namespace kx
