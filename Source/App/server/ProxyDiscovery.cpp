#include "App/server/ProxyDiscovery.h"

#include <cstring>
#include <vector>

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <libsoup/soup.h>

#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace {

std::string escaped(const std::string& text)
{
    char* escapedText = g_uri_escape_string(text.c_str(), nullptr, FALSE);
    std::string result = escapedText;
    g_free(escapedText);
    return result;
}

} // namespace

ProxyDiscovery::Environment ProxyDiscovery::environment(const std::string& proxyURL,
                                                        const std::optional<Credentials>& credentials)
{
    GUri* uri = g_uri_parse(proxyURL.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return {};
    std::string scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    int port = g_uri_get_port(uri);
    Environment environment;
    if ((scheme == "http" || scheme == "https") && host && *host) {
        std::string hostText = std::strchr(host, ':') ? std::string("[") + host + "]" : std::string(host);
        std::string url = scheme + "://";
        if (credentials && !credentials->user.empty())
            url += escaped(credentials->user) + ":" + escaped(credentials->password) + "@";
        else if (const char* userinfo = g_uri_get_userinfo(uri))
            url += std::string(userinfo) + "@";
        url += hostText;
        if (port > 0)
            url += ":" + std::to_string(port);
        environment["HTTP_PROXY"] = url;
        environment["HTTPS_PROXY"] = url;
        environment["NO_PROXY"] = "localhost,127.0.0.1,::1";
    }
    g_uri_unref(uri);
    return environment;
}

std::optional<ProxyDiscovery::Credentials> ProxyDiscovery::keyringCredentials(const std::string& scheme,
                                                                              const std::string& host, int port)
{
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    std::string portText = std::to_string(port);
    g_hash_table_insert(attributes, (gpointer) "server", (gpointer) host.c_str());
    g_hash_table_insert(attributes, (gpointer) "protocol", (gpointer) scheme.c_str());
    if (port > 0)
        g_hash_table_insert(attributes, (gpointer) "port", (gpointer) portText.c_str());
    GList* items = secret_service_search_sync(nullptr, SECRET_SCHEMA_COMPAT_NETWORK, attributes,
                                              SECRET_SEARCH_LOAD_SECRETS, nullptr, nullptr);
    g_hash_table_unref(attributes);

    // The list owns a reference to each item; take them over.
    std::vector<GObjectRef<SecretItem>> found;
    for (GList* item = items; item; item = item->next)
        found.push_back(GObjectRef<SecretItem>::adopt(SECRET_ITEM(item->data)));
    g_list_free(items);

    std::optional<Credentials> credentials;
    for (const auto& owned : found) {
        if (credentials)
            break;
        SecretItem* secretItem = owned.get();
        SecretValue* value = secret_item_get_secret(secretItem);
        GHashTable* itemAttributes = secret_item_get_attributes(secretItem);
        auto* user = static_cast<const char*>(g_hash_table_lookup(itemAttributes, "user"));
        const char* password = value ? secret_value_get_text(value) : nullptr;
        if (user && password)
            credentials = Credentials{user, password};
        g_hash_table_unref(itemAttributes);
        if (value)
            secret_value_unref(value);
    }
    return credentials;
}

std::optional<std::string> ProxyDiscovery::certificateChainThroughProxy(const std::string& url,
                                                                        const std::string& proxyURL)
{
    auto resolver = GObjectRef<GProxyResolver>::adopt(g_simple_proxy_resolver_new(proxyURL.c_str(), nullptr));
    auto session = GObjectRef<SoupSession>::adopt(
        soup_session_new_with_options("proxy-resolver", resolver.get(), "timeout", 10u, nullptr));
    std::optional<std::string> chain;
    if (auto message = GObjectRef<SoupMessage>::adopt(soup_message_new("HEAD", url.c_str()))) {
        auto body = GObjectRef<GInputStream>::adopt(soup_session_send(session.get(), message.get(), nullptr, nullptr));
        GTlsCertificate* certificate = soup_message_get_tls_peer_certificate(message.get());
        if (body && certificate && soup_message_get_tls_peer_certificate_errors(message.get()) == 0) {
            std::string pem;
            for (; certificate; certificate = g_tls_certificate_get_issuer(certificate)) {
                gchar* text = nullptr;
                g_object_get(certificate, "certificate-pem", &text, nullptr);
                if (text)
                    pem += text;
                g_free(text);
            }
            if (!pem.empty())
                chain = pem;
        }
    }
    return chain;
}

ProxyDiscovery::Environment ProxyDiscovery::discoverNow(const std::string& apiURL,
                                                        const std::filesystem::path& certificateFolder,
                                                        const Options& options)
{
    GProxyResolver* resolver = options.resolver ? options.resolver : g_proxy_resolver_get_default();
    gchar** proxies = g_proxy_resolver_lookup(resolver, apiURL.c_str(), nullptr, nullptr);
    std::string proxyURL = proxies && proxies[0] ? proxies[0] : "direct://";
    g_strfreev(proxies);

    Environment environment = ProxyDiscovery::environment(proxyURL, std::nullopt);
    if (environment.empty())
        return environment;

    GUri* uri = g_uri_parse(proxyURL.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri && !g_uri_get_userinfo(uri) && options.credentials) {
        if (auto credentials = options.credentials(g_uri_get_scheme(uri), g_uri_get_host(uri), g_uri_get_port(uri)))
            environment = ProxyDiscovery::environment(proxyURL, credentials);
    }
    if (uri)
        g_uri_unref(uri);

    if (options.collectCertificates && apiURL.starts_with("https:")) {
        if (auto chain = certificateChainThroughProxy(apiURL, environment["HTTPS_PROXY"])) {
            auto file = certificateFolder / "proxy-certificates.pem";
            if (!FileSystem::atomicWrite(file, *chain))
                environment["NODE_EXTRA_CA_CERTS"] = file.string();
        }
    }
    return environment;
}

void ProxyDiscovery::discover(std::string apiURL, std::filesystem::path certificateFolder,
                              std::function<void(Environment)> completion, Options options)
{
    // The resolver must live as long as the lookup on the pool's thread.
    auto resolver = GObjectRef<GProxyResolver>::retain(options.resolver);
    ThreadPool::global().async([apiURL = std::move(apiURL), certificateFolder = std::move(certificateFolder),
                                completion = std::move(completion), options = std::move(options),
                                resolver = std::move(resolver)]() mutable {
        auto environment = discoverNow(apiURL, certificateFolder, options);
        resolver.reset();
        MainQueue::async([completion = std::move(completion), environment = std::move(environment)]() mutable {
            completion(std::move(environment));
        });
    });
}

} // namespace kx
