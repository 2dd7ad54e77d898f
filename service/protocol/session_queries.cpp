#include "service/protocol/session_queries.hpp"

#include "util/format.hpp"
#include "util/inet_address.hpp"

namespace plexmill::protocol {

namespace {

std::string identityLines(const std::string& application, const std::string& user) {
    std::string lines;
    if (!application.empty()) {
        lines += "APPLICATION:" + application + "\n";
    }
    if (!user.empty()) {
        lines += "USER:" + user + "\n";
    }
    return lines;
}

bool completedSince(std::uint64_t completed, std::int64_t since) {
    return since < 0 || completed >= static_cast<std::uint64_t>(since);
}

} // namespace

std::string hostText(std::uint32_t address, std::uint16_t port) {
    return tnw::util::InetAddress(address, port).toText();
}

std::string sessionInfoReply(const LiveSession* session) {
    using tnw::util::format;
    if (session == nullptr) {
        return "\n";
    }
    std::string reply = "HOST:" + hostText(session->address, session->port) + "\n";
    reply += identityLines(session->application, session->user);
    reply += format("SINCE:%1\n", session->since);
    reply += format("STATE:%1\n", session->waiting ? "WAITING" : "PROCESSING");
    if (session->cpuTime != 0) {
        reply += format("PROCESSING_TIME:%1\n", session->cpuTime);
    }
    if (session->memory != 0) {
        reply += format("MEMORY_USAGE:%1\n", session->memory);
    }
    if (session->cpuUsage > 0) {
        reply += format("CPU_USAGE:%1\n", session->cpuUsage);
    }
    reply += "\n";
    return reply;
}

std::string sessionHistoryReply(std::span<const FinishedSession> newestFirst, std::int64_t since) {
    using tnw::util::format;
    std::string reply;
    for (const auto& record : newestFirst) {
        if (!completedSince(record.completed, since)) {
            break;
        }
        reply += "HOST:" + hostText(record.address, record.port) + "\n";
        reply += identityLines(record.application, record.user);
        reply += format("STARTED:%1\n", record.started);
        reply += format("COMPLETED:%1\n", record.completed);
        reply += "\n";
    }
    reply += "\n";
    return reply;
}

} // namespace plexmill::protocol
