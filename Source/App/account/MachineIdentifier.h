// An identifier of this machine for the back end ("mid" of the login pages) and the anonymous
// id of usage events: stable across launches, but never the raw machine id, which other
// programs use as a secret-ish key. It is HMAC-SHA-256 of this application's salt keyed with
// the machine id (as systemd derives its application-specific ids), cut to 128 bits in hex.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kx {

class MachineIdentifier {
public:
    // The process's identifier: from /etc/machine-id (or D-Bus's copy); on a machine without
    // either, a random one kept in the user defaults.
    static const std::string& current();

    // The identifier for the machine id in `file`; none when the file does not hold one
    // (32 hexadecimal digits and a line end).
    static std::optional<std::string> fromMachineIdFile(const std::filesystem::path& file);
    static std::string derive(const std::string& machineId);
};

} // namespace kx
