#include "monitor/monitor_client.hpp"

#include "service/protocol/numbers.hpp"
#include "util/exception.hpp"
#include "util/name_resolution.hpp"
#include "util/version.hpp"

namespace plexmill::monitor {

std::string monitorApplicationText() {
    return std::string(tnw::util::kProductName) + " Monitor " + tnw::util::versionText();
}

OpenResult MonitorClient::open(const std::string& address) {
    auto server = protocol::splitServerAddress(address);
    if (!server) {
        return OpenResult::kBadAddress;
    }
    tnw::util::Socket socket;
    if (!socket.create(true)) {
        return OpenResult::kNoSocket;
    }
    if (receiveTimeout != 0) {
        socket.setReceiveTimeout(receiveTimeout);
    }
    {
        std::lock_guard guard(socketLock_);
        socket_ = socket;
    }
    std::uint32_t resolved = tnw::util::resolve(server->first);
    if (resolved == 0) {
        return OpenResult::kUnknownHost;
    }
    if (!socket_.connect(tnw::util::InetAddress(resolved, server->second))) {
        return OpenResult::kNotConnected;
    }
    return protocol::greetServer(*this, monitorApplicationText(), greeting_) ? OpenResult::kOpened
                                                                             : OpenResult::kRefused;
}

bool MonitorClient::isConnected() const {
    std::lock_guard guard(socketLock_);
    return socket_.isValid();
}

void MonitorClient::drop() {
    tnw::util::Socket released;
    {
        std::lock_guard guard(socketLock_);
        released = std::exchange(socket_, {});
    }
    released.close();
}

void MonitorClient::interrupt() {
    std::lock_guard guard(socketLock_);
    if (socket_) {
        socket_.shutdownReceive();
        socket_.shutdownSend();
    }
}

std::string MonitorClient::readLine() {
    std::string line;
    for (;;) {
        char byte = 0;
        if (socket_.receive(&byte, 1) == 0) {
            tnw::util::raise(tnw::util::IOException("Disconnected."));
        }
        if (byte == '\n') {
            return line;
        }
        if (line.size() >= kMaximumLine) {
            tnw::util::raise(tnw::util::IOException("Reply line too long."));
        }
        line += byte;
    }
}

void MonitorClient::sendText(const std::string& text) {
    socket_.sendAll(text.data(), text.size());
}

bool MonitorClient::available() {
    sendText("AVAILABLE\n");
    return readLine() == "ACK";
}

std::vector<std::string> MonitorClient::info() {
    sendText("INFO\n");
    return protocol::readBlock(*this);
}

std::vector<std::string> MonitorClient::sessionInfo(std::uint64_t id) {
    return protocol::requestBlock(*this, "SESSION_INFO", std::to_string(id));
}

std::vector<FinishedSessionFacts> MonitorClient::sessionHistory(std::int64_t since) {
    sendText("SESSION_HISTORY\n");
    sendText(std::to_string(since) + "\n");
    std::vector<FinishedSessionFacts> records;
    // Each record starts from nothing: a record without USER is a session without a user, not
    // one more of the previous record's user.
    FinishedSessionFacts record;
    bool inRecord = false;
    for (;;) {
        std::string line = readLine();
        if (line.empty()) {
            if (!inRecord) {
                return records;
            }
            records.push_back(std::exchange(record, {}));
            inRecord = false;
            continue;
        }
        inRecord = true;
        auto [key, value] = protocol::splitKeyValue(line);
        auto number = [value = value] { return protocol::parseSigned64(value).value_or(0); };
        if (key == "HOST") {
            record.host = value;
        } else if (key == "USER") {
            record.user = value;
        } else if (key == "STARTED") {
            record.started = number();
        } else if (key == "COMPLETED") {
            record.completed = number();
        }
    }
}

} // namespace plexmill::monitor
