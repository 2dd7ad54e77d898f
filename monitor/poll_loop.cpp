#include "monitor/poll_loop.hpp"

#include "service/protocol/namespaces.hpp"
#include "service/protocol/numbers.hpp"
#include "util/exception.hpp"
#include "util/instance_lock.hpp"

#include <algorithm>
#include <limits>

namespace plexmill::monitor {

namespace {

// What the loop keeps between cycles.
struct PollMemory {
    bool backoff = false;
    std::int64_t historySince = 0;
    std::uint32_t serverRevision = 0;
};

// What one cycle hands to the state.
struct CycleLists {
    std::vector<std::string> active;
    std::vector<std::string> recentNewestFirst;
};

// Steps after AVAILABLE: the INFO values, the open sessions, and the history since the last look.
void readServer(MonitorState& state, MonitorClient& client, PollMemory& memory, CycleLists& lists) {
    auto info = client.info();
    // Values the reply leaves out count as "NO" and 0 rather than as what an earlier one said.
    memory.serverRevision = 0;
    bool http = false;
    std::uint64_t total = 0;
    for (const auto& line : info) {
        auto [key, value] = protocol::splitKeyValue(line);
        if (key == "REVISION") {
            memory.serverRevision = protocol::parseUnsigned(value).value_or(0);
        } else if (key == "HTTP") {
            http = value == "YES";
        } else if (key == "TOTAL_SESSIONS") {
            total = protocol::parseUnsigned64(value).value_or(0);
        }
    }
    state.httpAvailable = http;
    state.totalSessions = total;
    for (const auto& line : info) {
        auto [key, value] = protocol::splitKeyValue(line);
        if (key != "SESSION") {
            continue;
        }
        auto id = protocol::parseUnsigned64(value);
        if (!id) {
            tnw::util::raise(tnw::util::ParseException());
        }
        LiveSessionFacts session = readLiveSession(client.sessionInfo(*id));
        // A session that has not started its kernel does not count as active.
        if (session.processingTime != 0) {
            lists.active.push_back(activeSessionText(session));
        }
    }
    if (memory.serverRevision < kHistoryRevision) {
        return;
    }
    auto records = client.sessionHistory(memory.historySince);
    if (!records.empty()) {
        // The next look starts just after the newest completion; a server's nonsense at the end
        // of the scale cannot overflow it.
        std::int64_t newest = records.front().completed;
        memory.historySince =
            newest < std::numeric_limits<std::int64_t>::max() ? newest + 1 : newest;
    }
    std::size_t shown = std::min(records.size(), kMaximumRecentSessions);
    for (std::size_t index = 0; index < shown; ++index) {
        lists.recentNewestFirst.push_back(recentSessionText(records[index]));
    }
}

// One pass of the loop; false when the loop should end.
bool pollOnce(MonitorState& state,
              MonitorClient& client,
              const PollOptions& options,
              PollMemory& memory) {
    if (!options.serverRunning()) {
        // The connection to a server that went away is dead; showing it as responding would
        // let its last state flash up when a server starts again.
        client.drop();
        state.responded = false;
        return !state.waitForQuit(options.notRunningPause);
    }
    if (state.waitForQuit(memory.backoff ? options.backoffPause : options.cyclePause)) {
        return false;
    }
    if (!client.isConnected()) {
        state.clearLists();
        // The lists start from nothing on every connection; the recent one is filled again from
        // the history the server keeps.
        memory.historySince = 0;
        OpenResult opened = OpenResult::kRefused;
        try {
            opened = client.open(options.address);
        } catch (const tnw::util::Exception&) {
        }
        if (opened != OpenResult::kOpened) {
            client.drop();
            memory.backoff = true;
            return true;
        }
    }
    memory.backoff = false;
    CycleLists lists;
    try {
        // Accepting is known before the server counts as responding, so that a reader who sees
        // it respond never sees the accepting flag of the time before.
        state.accepting = client.available();
        state.responded = true;
        readServer(state, client, memory, lists);
    } catch (const tnw::util::Exception&) {
        state.responded = false;
        client.drop();
    }
    if (memory.serverRevision >= kHistoryRevision) {
        state.handOver(std::move(lists.active), lists.recentNewestFirst);
    }
    return true;
}

} // namespace

void pollLoop(MonitorState& state, MonitorClient& client, const PollOptions& options) {
    client.receiveTimeout = options.receiveTimeout;
    PollMemory memory;
    try {
        while (!state.quitRequested() && pollOnce(state, client, options, memory)) {
        }
    } catch (...) {
        // Out of memory or the like: the tray then shows the server as not responding.
        state.responded = false;
    }
    client.drop();
}

Poller::Poller(MonitorState& state, PollOptions options)
    : state_(state), options_(std::move(options)) {
    if (!options_.serverRunning) {
        options_.serverRunning = [] {
            return tnw::util::InstanceLock::isHeld(protocol::serverInstanceName());
        };
    }
}

Poller::~Poller() {
    stop();
}

void Poller::start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { pollLoop(state_, client_, options_); });
    }
}

void Poller::stop() {
    state_.requestQuit();
    client_.interrupt();
    if (thread_.joinable()) {
        thread_.join();
    }
}

} // namespace plexmill::monitor
