#include "service/session/query_commands.hpp"

#include "service/protocol/measure_pattern.hpp"
#include "service/protocol/numbers.hpp"
#include "service/protocol/server_info.hpp"
#include "service/protocol/session_commands.hpp"
#include "service/protocol/session_queries.hpp"
#include "service/server/capacity.hpp"
#include "service/server/settings.hpp"
#include "service/session/uploaded_kernels.hpp"
#include "util/process.hpp"
#include "util/sync.hpp"
#include "util/system_info.hpp"
#include "util/version.hpp"

#include <vector>

namespace plexmill::session {

namespace {

using tnw::util::SystemInfo;

tnw::util::Time processStart() {
    static const tnw::util::Time start = tnw::util::Process::current().creationTime();
    return start;
}

// Measured once: the measurement takes the processor for a while.
std::uint32_t measuredFrequency() {
    static const auto frequency = static_cast<std::uint32_t>(SystemInfo::measuredFrequency());
    return frequency;
}

std::string systemDescription(const server::Settings& options) {
    if (!options.description.empty()) {
        return options.description;
    }
    return server::lookupDisplayName(options, SystemInfo::machineModel());
}

protocol::LiveSession describe(const server::SessionState& session) {
    return {session.peer.address,
            session.peer.port,
            session.application,
            session.user,
            session.startTime.value(),
            session.waiting,
            session.cpuTime,
            session.memory,
            session.cpuUsage};
}

} // namespace

void handleInfo(Session& session) {
    const server::Settings& options = server::settings();
    server::Manager& manager = session.server();
    auto memory = SystemInfo::memoryStatus();
    protocol::ServerInfo info;
    info.version = tnw::util::versionText();
    info.revision = tnw::util::kRevision;
    info.runningSince = processStart().value();
    info.processors = SystemInfo::processorCount();
    info.measuredFrequency = measuredFrequency();
    info.os = options.cloud ? "CLOUD" : SystemInfo::platformName();
    info.acceptRemote = keepsUploadedKernels(options);
    info.http = manager.config.useHttp;
    info.description = systemDescription(options);
    info.architecture = SystemInfo::processorArchitecture();
    info.physicalMemory = memory.totalPhysical;
    info.availableMemory = memory.availablePhysical;
    info.rating = server::knownSystemRating();
    info.sessionTimeout = options.sessionTimeout;
    info.maximumSessionSize = options.maximumDataSize;
    info.maximumSessions = options.maximumSessionsLimit;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        info.openSessions = manager.sessions.size();
        info.totalSessions = manager.totalSessions;
        info.usage = manager.cpuUsage.load();
        for (const auto& listed : manager.sessions) {
            if (listed->jobSession) {
                info.jobSessions.push_back(listed->id);
            }
        }
    }
    session.sendText(protocol::infoReply(info));
}

void handleSessionInfo(Session& session) {
    auto id = protocol::parseSigned64(session.readLine());
    std::string reply;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        const server::SessionState* found = nullptr;
        for (const auto& listed : session.server().sessions) {
            if (id && listed->id == *id) {
                found = listed.get();
                break;
            }
        }
        if (found != nullptr) {
            protocol::LiveSession described = describe(*found);
            reply = protocol::sessionInfoReply(&described);
        } else {
            reply = protocol::sessionInfoReply(nullptr);
        }
    }
    session.sendText(reply);
}

void handleSessionHistory(Session& session) {
    std::int64_t since = protocol::parseSigned64(session.readLine()).value_or(0);
    std::vector<protocol::FinishedSession> finished;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        for (const auto& record : session.server().history) {
            finished.push_back({record.peer.address,
                                record.peer.port,
                                record.application,
                                record.user,
                                record.startTime.value(),
                                record.endTime.value()});
        }
    }
    session.sendText(protocol::sessionHistoryReply(finished, since));
}

void handleUsageInfo(Session& session) {
    std::uint64_t available = SystemInfo::memoryStatus().availablePhysical;
    std::uint64_t open = 0;
    double usage = 0;
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        open = session.server().sessions.size();
        usage = session.server().cpuUsage.load();
    }
    session.sendText(protocol::usageInfoReply(available, open, usage));
}

void handleMeasure(Session& session) {
    auto count = protocol::parseUnsigned(session.readLine());
    if (!count) {
        session.sendText(protocol::kRefusal);
        return;
    }
    std::uint64_t remaining = *count;
    while (remaining > 0) {
        std::string_view piece = protocol::measurePiece(remaining);
        std::size_t offset = 0;
        while (offset < piece.size()) {
            std::size_t sent = session.sendSome(piece.data() + offset, piece.size() - offset);
            if (sent == 0) {
                session.sendText(protocol::kRefusal);
                return;
            }
            offset += sent;
        }
        remaining -= piece.size();
    }
    session.sendText(protocol::kAck);
}

} // namespace plexmill::session
