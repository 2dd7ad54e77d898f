// The monitor's own session connection to the local server. It opens sessions as the
// command-line client does but calls itself "Quorvex Plexmill Monitor", and a connection the
// server closed is an error here: the polling cycle must notice it and reconnect.
#pragma once

#include "monitor/session_texts.hpp"
#include "service/protocol/client_handshake.hpp"
#include "util/socket.hpp"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace plexmill::monitor {

// What the monitor calls itself in APPLICATION: "Quorvex Plexmill Monitor 14.1.0 build 42604".
std::string monitorApplicationText();

enum class OpenResult : std::uint32_t {
    kOpened = 0,
    kBadAddress = 1,   // the port part is not a port
    kNoSocket = 2,     // the socket could not be created
    kUnknownHost = 3,  // the host has no IPv4 address
    kNotConnected = 4, // nobody listens, or the connect failed
    kRefused = 5,      // the server refused a step of the handshake
};

class MonitorClient : public protocol::LineChannel {
public:
    // Milliseconds a reply may take before the read raises IOTimedOutException; 0 waits for ever.
    // Applied to every socket right after it is created.
    std::uint32_t receiveTimeout = 0;

    // Connects to "host[:port]" and opens a session. Anything but kOpened leaves the connection
    // unusable; the caller drops it. Socket errors during the handshake propagate.
    OpenResult open(const std::string& address);
    bool isConnected() const;
    // Releases the socket.
    void drop();
    // From another thread: shuts the connection down, so that a read blocked in it ends now.
    void interrupt();

    // One line without its line feed. The end of the connection raises IOException
    // "Disconnected."; an aborted or shut-down one EndOfStreamException, a time-out
    // IOTimedOutException, other failures IOException with the Windows error number.
    std::string readLine() override;
    void sendText(const std::string& text) override;

    const protocol::ServerGreeting& greeting() const { return greeting_; }

    // AVAILABLE: whether the server takes work now.
    bool available();
    // INFO: the reply lines.
    std::vector<std::string> info();
    // SESSION_INFO for a session id: the reply lines.
    std::vector<std::string> sessionInfo(std::uint64_t id);
    // SESSION_HISTORY: the sessions completed at or after `since`, as the server lists them
    // (newest first).
    std::vector<FinishedSessionFacts> sessionHistory(std::int64_t since);

private:
    // A line this long is not a reply of a server; reading stops rather than growing without end.
    static constexpr std::size_t kMaximumLine = 1 << 20;

    // Guards replacing the socket against interrupt() from another thread; the polling thread
    // reads and writes through its own reference without it.
    mutable std::mutex socketLock_;
    tnw::util::Socket socket_;
    protocol::ServerGreeting greeting_;
};

} // namespace plexmill::monitor
