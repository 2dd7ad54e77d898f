// The replies that describe the server: INFO and USAGE_INFO. Plain functions of the facts, so
// that the exact bytes can be checked without a server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plexmill::protocol {

struct ServerInfo {
    std::string version; // "14.1.0 build 42604"
    std::uint32_t revision = 0;
    std::uint64_t runningSince = 0; // microseconds since 1601
    std::uint32_t processors = 0;
    std::uint32_t measuredFrequency = 0; // Hz, low 32 bits
    std::string os;
    bool acceptRemote = false;
    bool http = false;
    std::string description; // the line is left out when empty
    int architecture = 0;    // util/system_info.hpp numbering
    std::uint64_t physicalMemory = 0;
    std::uint64_t availableMemory = 0;
    double rating = 0; // the line is left out unless above 0
    std::uint64_t openSessions = 0;
    std::uint32_t totalSessions = 0;
    double usage = 0;                     // fraction of the machine
    std::uint64_t sessionTimeout = 0;     // microseconds
    std::uint64_t maximumSessionSize = 0; // bytes
    std::uint32_t maximumSessions = 0;
    std::vector<std::int64_t> jobSessions; // ids, in list order
};

// The whole INFO block including its closing empty line.
std::string infoReply(const ServerInfo& info);

// "AVAILABLE_MEMORY", "OPEN_SESSIONS" and "USAGE" lines and the closing empty line.
std::string usageInfoReply(std::uint64_t availableMemory, std::uint64_t openSessions, double usage);

// "IA32", "IA64", "X64" or "UNKNOWN".
std::string_view architectureWord(int architecture);

// The usage fraction as a whole percentage, truncated toward zero and kept within 32 bits.
std::int32_t usagePercent(double usage);

// The first `count` characters of UTF-8 text; a multi-byte character is never cut apart.
std::string_view leadingCharacters(std::string_view text, std::size_t count);

} // namespace plexmill::protocol
