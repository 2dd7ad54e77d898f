// The client's side of opening a session, over any line transport: the namespace echo, INFO,
// USER and (from revision 36300) APPLICATION. The command-line client and the tray monitor
// speak it alike; they differ only in what they call themselves and in how they treat a
// connection the server closed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plexmill::protocol {

// Revision from which a server takes APPLICATION and the file-cache commands.
inline constexpr std::uint32_t kApplicationRevision = 36300;

// One line in each direction; how a closed connection reads is the implementer's rule.
class LineChannel {
public:
    virtual ~LineChannel() = default;
    virtual void sendText(const std::string& text) = 0;
    // One line without its line feed.
    virtual std::string readLine() = 0;
};

// What the server said about itself while the session was opened.
struct ServerGreeting {
    std::vector<std::string> infoLines; // the INFO reply, without the closing empty line
    std::uint32_t serverRevision = 0;   // its REVISION, 0 when absent or not a number
};

// "host" or "host:port" (split at the last colon; 7387 without one). Nothing when the port part
// is not a decimal number of at most 65535.
std::optional<std::pair<std::string, std::uint16_t>> splitServerAddress(const std::string& address);

// Sends the legacy namespace line and requires its echo, asks INFO, names the user running this
// program and, for servers from revision 36300, the application. False as soon as the server
// refuses a step; what the channel raises propagates.
bool greetServer(LineChannel& channel, const std::string& application, ServerGreeting& greeting);

// Lines up to the first empty one, which is not included.
std::vector<std::string> readBlock(LineChannel& channel);

// A request word followed by its argument line, as two writes, then the block it answers.
std::vector<std::string>
requestBlock(LineChannel& channel, const std::string& request, const std::string& argument);

} // namespace plexmill::protocol
