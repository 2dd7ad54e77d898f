#include "service/protocol/client_handshake.hpp"

#include "service/protocol/namespaces.hpp"
#include "service/protocol/numbers.hpp"
#include "util/environment.hpp"

namespace plexmill::protocol {

namespace {

// What a Windows user name can hold; longer names are cut, as the server would see them there.
constexpr std::size_t kMaximumUserName = 256;

} // namespace

std::optional<std::pair<std::string, std::uint16_t>>
splitServerAddress(const std::string& address) {
    auto colon = address.rfind(':');
    if (colon == std::string::npos) {
        return std::pair{address, static_cast<std::uint16_t>(kSessionPort)};
    }
    auto number = parseUnsigned(std::string_view(address).substr(colon + 1));
    if (!number || *number > 65535) {
        return std::nullopt;
    }
    return std::pair{address.substr(0, colon), static_cast<std::uint16_t>(*number)};
}

bool greetServer(LineChannel& channel, const std::string& application, ServerGreeting& greeting) {
    std::string legacy(kLegacyNamespace);
    channel.sendText(legacy + "\n");
    if (channel.readLine() != legacy) {
        return false;
    }
    channel.sendText("INFO\n");
    greeting.infoLines = readBlock(channel);
    greeting.serverRevision = 0;
    for (const auto& line : greeting.infoLines) {
        auto [key, value] = splitKeyValue(line);
        if (key == "REVISION") {
            greeting.serverRevision = parseUnsigned(value).value_or(0);
        }
    }
    channel.sendText("USER\n");
    channel.sendText(tnw::util::userName().substr(0, kMaximumUserName) + "\n");
    if (channel.readLine() != "ACK") {
        return false;
    }
    if (greeting.serverRevision < kApplicationRevision) {
        return true;
    }
    channel.sendText("APPLICATION\n");
    channel.sendText(application + "\n");
    return channel.readLine() == "ACK";
}

std::vector<std::string> readBlock(LineChannel& channel) {
    std::vector<std::string> lines;
    for (std::string line = channel.readLine(); !line.empty(); line = channel.readLine()) {
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string>
requestBlock(LineChannel& channel, const std::string& request, const std::string& argument) {
    channel.sendText(request + "\n");
    channel.sendText(argument + "\n");
    return readBlock(channel);
}

} // namespace plexmill::protocol
