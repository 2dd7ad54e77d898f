// The client side of a session connection, shared by the query commands and --connect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/protocol/client_handshake.hpp"
#include "util/socket.hpp"

namespace plexmill::cli {

// What clients of this program call themselves in APPLICATION.
std::string applicationText();

class SessionClient : public protocol::LineChannel {
public:
    // Revision from which a server takes APPLICATION and the file-cache commands.
    static constexpr std::uint32_t kFileCacheRevision = protocol::kApplicationRevision;

    // Connects to "host" or "host:port" and performs the handshake, INFO, USER and (from
    // revision 36300) APPLICATION. False on any refusal; socket errors raised while talking
    // propagate as util exceptions.
    bool open(const std::string& address);

    // One line without its line feed (a carriage return stays). An empty line when the server
    // closed the connection.
    std::string readLine() override;
    void sendText(const std::string& text) override;
    // DONE, one reply line, then both directions shut down and the socket closed.
    void finish();
    // SESSION_INFO for a session id; the reply lines without the closing empty line.
    std::vector<std::string> sessionInfo(const std::string& id);
    // IS_FILE_CACHED for the checksum and size of a local file; false without asking the
    // server when the file is empty. A file that cannot be opened raises IOException.
    bool isFileCached(const std::string& path);
    void close();

    const std::vector<std::string>& infoLines() const { return greeting_.infoLines; }
    std::uint32_t serverRevision() const { return greeting_.serverRevision; }
    tnw::util::Socket& socket() { return socket_; }

private:
    // Lines over this length are not replies of a server; reading stops as at a closed
    // connection rather than growing without end.
    static constexpr std::size_t kMaximumLine = 1 << 20;

    tnw::util::Socket socket_;
    protocol::ServerGreeting greeting_;
};

} // namespace plexmill::cli
