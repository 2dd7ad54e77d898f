// The part of the server's configuration that comes from the registry key
// "Software\Quorvex\Quorvex Plexmill" (HKEY_CURRENT_USER first, then HKEY_LOCAL_MACHINE),
// read at every server start, together with the two working folders.
#pragma once

#include "service/protocol/machine_settings.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace plexmill::server {

inline constexpr const char* kSettingsKey = protocol::kSettingsKey;

struct AdmissionRule {
    std::uint32_t address = 0;
    std::uint32_t wildcardBits = 0; // bits that need not match
    bool allow = true;
};

struct ServerSettings {
    std::string intermediateFolder;
    std::string cacheFolder;
    std::uint16_t broadcastPort = 7388;
    std::uint16_t port = 7387;
    std::uint16_t httpStatusPort = 8080;
    bool useHttp = false;
    std::uint32_t maximumSessions = 1;
    std::uint64_t minimumSystemMemory = 536'870'912ULL; // bytes
    std::vector<AdmissionRule> admissionRules;
};

// The number stored under `name`: HKEY_CURRENT_USER's when it has the value, else
// HKEY_LOCAL_MACHINE's, else `fallback`. A value of another type than REG_DWORD gives
// `fallback`, even when the other root holds a good one.
std::uint32_t readRegistryNumber(const std::string& name, std::uint32_t fallback);
// The same for REG_SZ and REG_EXPAND_SZ texts; an empty stored text is a value.
std::string readRegistryText(const std::string& name, const std::string& fallback);

// Fills `loaded` from the registry and the process settings, loads the name lookup table,
// prints the settings when verbose, and reopens the access log in the intermediate folder.
// False, after printing which and why, when the intermediate or the cache folder cannot be
// made the server's private folder (tnw::util::preparePrivateFolder).
bool loadSettings(ServerSettings& loaded);

} // namespace plexmill::server
