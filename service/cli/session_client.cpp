#include "service/cli/session_client.hpp"

#include "util/checksum.hpp"
#include "util/file_stream.hpp"
#include "util/name_resolution.hpp"
#include "util/version.hpp"

namespace plexmill::cli {

std::string applicationText() { return std::string(tnw::util::kProductName) + " " + tnw::util::versionText(); }

bool SessionClient::open(const std::string& address) {
    auto server = protocol::splitServerAddress(address);
    if (!server || !socket_.create(true)) {
        return false;
    }
    // The protocol sends a command and its arguments as separate writes: held back for the
    // server's delayed acknowledgement, each exchange would wait ~40 ms.
    socket_.setNoDelay(true);
    std::uint32_t resolved = tnw::util::resolve(server->first);
    if (resolved == 0 || !socket_.connect(tnw::util::InetAddress(resolved, server->second))) {
        return false;
    }
    return protocol::greetServer(*this, applicationText(), greeting_);
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
    return protocol::requestBlock(*this, "SESSION_INFO", id);
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
