#include "service/cli/session_client.hpp"

#include "service/protocol/namespaces.hpp"
#include "service/protocol/numbers.hpp"
#include "util/checksum.hpp"
#include "util/environment.hpp"
#include "util/file_stream.hpp"
#include "util/name_resolution.hpp"
#include "util/version.hpp"

namespace plexmill::cli {

std::string applicationText() { return std::string(tnw::util::kProductName) + " " + tnw::util::versionText(); }

bool SessionClient::open(const std::string& address) {
    std::string host = address;
    std::uint16_t port = protocol::kSessionPort;
    if (auto colon = address.rfind(':'); colon != std::string::npos) {
        auto number = protocol::parseUnsigned(address.substr(colon + 1));
        if (!number || *number > 65535) {
            return false;
        }
        port = static_cast<std::uint16_t>(*number);
        host = address.substr(0, colon);
    }
    if (!socket_.create(true)) {
        return false;
    }
    // The protocol sends a command and its arguments as separate writes: held back for the
    // server's delayed acknowledgement, each exchange would wait ~40 ms.
    socket_.setNoDelay(true);
    std::uint32_t resolved = tnw::util::resolve(host);
    if (resolved == 0 || !socket_.connect(tnw::util::InetAddress(resolved, port))) {
        return false;
    }
    std::string legacy(protocol::kLegacyNamespace);
    sendText(legacy + "\n");
    if (readLine() != legacy) {
        return false;
    }
    sendText("INFO\n");
    infoLines_ = readBlock();
    for (const auto& line : infoLines_) {
        auto [key, value] = protocol::splitKeyValue(line);
        if (key == "REVISION") {
            serverRevision_ = protocol::parseUnsigned(value).value_or(0);
        }
    }
    std::string user = tnw::util::userName().substr(0, 256);
    sendText("USER\n");
    sendText(user + "\n");
    if (readLine() != "ACK") {
        return false;
    }
    if (serverRevision_ < kFileCacheRevision) {
        return true;
    }
    sendText("APPLICATION\n");
    sendText(applicationText() + "\n");
    return readLine() == "ACK";
}

std::string SessionClient::readLine() {
    std::string line;
    for (;;) {
        char byte = 0;
        if (socket_.receive(&byte, 1) == 0 || line.size() >= kMaximumLine) {
            return {};
        }
        if (byte == '\n') {
            return line;
        }
        line += byte;
    }
}

std::vector<std::string> SessionClient::readBlock() {
    std::vector<std::string> lines;
    for (std::string line = readLine(); !line.empty(); line = readLine()) {
        lines.push_back(std::move(line));
    }
    return lines;
}

void SessionClient::sendText(const std::string& text) { socket_.sendAll(text.data(), text.size()); }

void SessionClient::finish() {
    sendText("DONE\n");
    readLine();
    close();
}

void SessionClient::close() {
    if (socket_) {
        socket_.shutdownReceive();
        socket_.shutdownSend();
        socket_.close();
    }
}

std::vector<std::string> SessionClient::sessionInfo(const std::string& id) {
    sendText("SESSION_INFO\n");
    sendText(id + "\n");
    return readBlock();
}

bool SessionClient::isFileCached(const std::string& path) {
    // A file that cannot be opened is an error for the caller, not a file that is not cached.
    tnw::util::FileInputStream(path).close();
    auto [checksum, size] = tnw::util::fileChecksumAndSize(path);
    if (checksum.empty() || size == 0) {
        return false;
    }
    sendText("IS_FILE_CACHED\n");
    sendText(checksum + "\n");
    sendText(std::to_string(size) + "\n");
    return readLine() == "ACK";
}

} // namespace plexmill::cli
