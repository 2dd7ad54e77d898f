// The product's name and version, as the console, the protocol and the status pages show them.
#pragma once

#include "util/format.hpp"

#include <cstdint>
#include <string>

namespace tnw::util {

inline constexpr char kProductName[] = "Quorvex Plexmill";
inline constexpr char kProductWebAddress[] = "https://www.quorvex.example";

inline constexpr std::uint32_t kVersionMajor = 14;
inline constexpr std::uint32_t kVersionMinor = 1;
inline constexpr std::uint32_t kVersionRevision = 0;
inline constexpr std::uint32_t kVersionBuild = 42604;

// The revision a server states to its peers (INFO, discovery) is its build number.
inline constexpr std::uint32_t kRevision = kVersionBuild;

// "14.1.0 build 42604".
inline std::string versionText() {
    return formatPrintf(
        "%u.%u.%u build %u", kVersionMajor, kVersionMinor, kVersionRevision, kVersionBuild);
}

} // namespace tnw::util
