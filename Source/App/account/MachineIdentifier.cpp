#include "App/account/MachineIdentifier.h"

#include <array>
#include <fstream>

#include <glib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "App/shell/RKLog.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace {

// Ours alone, so that the value matches no other program's view of this machine.
constexpr std::string_view applicationSalt = "com.korvel.x/machine-identifier/1";
constexpr const char* fallbackKey = "PDMachineIdentifier";

} // namespace

std::string MachineIdentifier::derive(const std::string& machineId)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    HMAC(EVP_sha256(), machineId.data(), int(machineId.size()),
         reinterpret_cast<const unsigned char*>(applicationSalt.data()), applicationSalt.size(), digest.data(), &length);
    return hexString(std::span(digest.data(), std::min<size_t>(length, 16)));
}

std::optional<std::string> MachineIdentifier::fromMachineIdFile(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line) || line.size() != 32)
        return std::nullopt;
    for (char c : line) {
        if (!g_ascii_isxdigit(c))
            return std::nullopt;
    }
    if (line.find_first_not_of('0') == std::string::npos)
        return std::nullopt; // an image that was never given an id
    return derive(line);
}

const std::string& MachineIdentifier::current()
{
    static const std::string identifier = [] {
        for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
            if (auto id = fromMachineIdFile(file))
                return *id;
        }
        auto& defaults = UserDefaults::standard();
        if (auto stored = defaults.stringForKey(fallbackKey); stored && stored->size() == 32)
            return *stored;
        RKLog("No machine id on this machine; using a random identifier kept in the settings", RKLogKind::general);
        std::string made = derive(Uuid::make());
        defaults.setString(fallbackKey, made);
        return made;
    }();
    return identifier;
}

} // namespace kx
