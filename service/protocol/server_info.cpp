#include "service/protocol/server_info.hpp"

#include "util/format.hpp"
#include "util/system_info.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plexmill::protocol {

namespace {

constexpr std::size_t kDescriptionLength = 100;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string_view architectureWord(int architecture) {
    switch (architecture) {
    case tnw::util::architecture::kX86:
        return "IA32";
    case tnw::util::architecture::kItanium:
        return "IA64";
    case tnw::util::architecture::kX64:
        return "X64";
    default:
        return "UNKNOWN";
    }
}

std::int32_t usagePercent(double usage) {
    double percent = std::trunc(usage * 100);
    if (std::isnan(percent)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::clamp<double>(percent,
                                                        std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max()));
}

std::string_view leadingCharacters(std::string_view text, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isContinuationByte(text[i]) && characters++ == count) {
            return text.substr(0, i);
        }
    }
    return text;
}

std::string infoReply(const ServerInfo& info) {
    using tnw::util::format;
    std::string reply;
    reply += format("VERSION:%1\n", info.version);
    reply += format("REVISION:%1\n", info.revision);
    reply += format("RUNNING_SINCE:%1\n", info.runningSince);
    reply += format("CPUS:%1\n", info.processors);
    reply += format("MEASURED_FREQUENCY:%1\n", info.measuredFrequency);
    reply += format("OS:%1\n", info.os);
    reply += format("ACCEPT_REMOTE:%1\n", info.acceptRemote ? "YES" : "NO");
    reply += format("HTTP:%1\n", info.http ? "YES" : "NO");
    if (!info.description.empty()) {
        reply +=
            format("DESCRIPTION:%1\n", leadingCharacters(info.description, kDescriptionLength));
    }
    reply += format("ARCH:%1\n", architectureWord(info.architecture));
    reply += format("PHYSICAL_MEMORY:%1\n", info.physicalMemory);
    reply += format("AVAILABLE_MEMORY:%1\n", info.availableMemory);
    if (info.rating > 0) {
        reply += format("RATING:%1\n", info.rating);
    }
    reply += format("OPEN_SESSIONS:%1\n", info.openSessions);
    reply += format("TOTAL_SESSIONS:%1\n", info.totalSessions);
    reply += format("USAGE:%1\n", usagePercent(info.usage));
    reply += format("SESSION_TIMEOUT:%1\n", info.sessionTimeout);
    reply += format("MAXIMUM_SESSION_SIZE:%1\n", info.maximumSessionSize);
    reply += format("MAXIMUM_SESSIONS:%1\n", info.maximumSessions);
    for (std::int64_t id : info.jobSessions) {
        reply += format("SESSION:%1\n", id);
    }
    reply += "\n";
    return reply;
}

std::string
usageInfoReply(std::uint64_t availableMemory, std::uint64_t openSessions, double usage) {
    using tnw::util::format;
    std::string reply;
    reply += format("AVAILABLE_MEMORY:%1\n", availableMemory);
    reply += format("OPEN_SESSIONS:%1\n", openSessions);
    reply += format("USAGE:%1\n", usagePercent(usage));
    reply += "\n";
    return reply;
}

} // namespace plexmill::protocol
