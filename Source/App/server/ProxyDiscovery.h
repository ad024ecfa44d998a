// Finds the desktop's proxy for the back end and turns it into the environment of a Node.js
// child: HTTP_PROXY and HTTPS_PROXY (with credentials from the desktop keyring when the proxy
// has some there), NO_PROXY for this machine, and NODE_EXTRA_CA_CERTS with the certificate
// chain the back end presents through the proxy (a proxy that inspects TLS shows its own,
// which the system trusts but Node.js does not know).
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

typedef struct _GProxyResolver GProxyResolver;

namespace kx {

class ProxyDiscovery {
public:
    using Environment = std::map<std::string, std::string>;
    struct Credentials {
        std::string user;
        std::string password;
    };
    using CredentialsLookup =
        std::function<std::optional<Credentials>(const std::string& scheme, const std::string& host, int port)>;

    struct Options {
        GProxyResolver* resolver = nullptr; // null: the desktop's default
        CredentialsLookup credentials = keyringCredentials;
        bool collectCertificates = true;
    };

    // Looks the proxy for `apiURL` up on a worker thread and calls `completion` on the main
    // thread with the variables to set (empty without a proxy). The certificate file goes
    // into `certificateFolder`.
    static void discover(std::string apiURL, std::filesystem::path certificateFolder,
                         std::function<void(Environment)> completion, Options options);
    static void discover(std::string apiURL, std::filesystem::path certificateFolder,
                         std::function<void(Environment)> completion)
    {
        discover(std::move(apiURL), std::move(certificateFolder), std::move(completion), Options());
    }

    // The same, on the calling thread.
    static Environment discoverNow(const std::string& apiURL, const std::filesystem::path& certificateFolder,
                                   const Options& options);

    // The variables for one proxy URL as GIO gives it ("http://host:port"); empty for
    // "direct://" and for kinds of proxy Node.js cannot use.
    static Environment environment(const std::string& proxyURL, const std::optional<Credentials>& credentials);

    // The network password the desktop keyring holds for the proxy, if any.
    static std::optional<Credentials> keyringCredentials(const std::string& scheme, const std::string& host, int port);

    // The PEM text of the certificate chain that `url` presents through `proxyURL`, when the
    // system trusts it; nullopt otherwise.
    static std::optional<std::string> certificateChainThroughProxy(const std::string& url, const std::string& proxyURL);
};

} // namespace kx
