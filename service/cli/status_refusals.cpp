#include "service/cli/status_refusals.hpp"

#include "service/protocol/client_handshake.hpp"
#include "service/server/refusals.hpp"
#include "service/server/server_settings.hpp"
#include "util/exception.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolution.hpp"
#include "util/socket.hpp"

#include <cstdio>

namespace plexmill::cli {

namespace {

constexpr std::uint32_t kStatusTimeout = 3'000'000; // microseconds
constexpr std::size_t kMaximumDocument = 16 * 1024 * 1024;

std::string textOf(const std::string& key) {
    for (const server::RefusalName& name : server::refusalNames()) {
        if (name.key == key) {
            return std::string(name.text);
        }
    }
    return key;
}

// The Content-Length of a response head, or nothing.
std::optional<std::size_t> contentLength(const std::string& head) {
    constexpr std::string_view kHeader = "\r\nContent-Length: ";
    std::size_t at = head.find(kHeader);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::size_t length = 0;
    bool digits = false;
    for (std::size_t i = at + kHeader.size(); i < head.size() && head[i] >= '0' && head[i] <= '9';
         ++i) {
        length = length * 10 + static_cast<std::size_t>(head[i] - '0');
        digits = true;
        if (length > kMaximumDocument) {
            return std::nullopt;
        }
    }
    return digits ? std::optional<std::size_t>(length) : std::nullopt;
}

} // namespace

std::optional<std::vector<std::string>> refusalTexts(const std::string& statusJson) {
    constexpr std::string_view kKey = "\"refusals\": [";
    std::size_t at = statusJson.find(kKey);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::size_t end = statusJson.find(']', at);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    std::vector<std::string> texts;
    std::size_t position = at + kKey.size();
    for (;;) {
        std::size_t open = statusJson.find('"', position);
        if (open == std::string::npos || open > end) {
            return texts;
        }
        std::size_t close = statusJson.find('"', open + 1);
        if (close == std::string::npos || close > end) {
            return std::nullopt;
        }
        texts.push_back(textOf(statusJson.substr(open + 1, close - open - 1)));
        position = close + 1;
    }
}

std::optional<std::string> fetchStatusJson(std::uint32_t address, std::uint16_t port) {
    try {
        tnw::util::Socket socket;
        if (!socket.create(true) || !socket.connect(tnw::util::InetAddress(address, port))) {
            return std::nullopt;
        }
        const std::string request = "GET /json/status.json HTTP/1.1\r\nHost: " +
                                    tnw::util::InetAddress(address, port).addressText() +
                                    "\r\n\r\n";
        socket.sendAll(request.data(), request.size(), kStatusTimeout);
        std::string response;
        std::optional<std::size_t> bodyStart;
        std::optional<std::size_t> length;
        char buffer[16384];
        while (!length || response.size() < *bodyStart + *length) {
            std::size_t received = socket.receiveWithin(buffer, sizeof buffer, kStatusTimeout);
            if (received == 0) {
                return std::nullopt;
            }
            response.append(buffer, received);
            if (!bodyStart) {
                std::size_t headEnd = response.find("\r\n\r\n");
                if (headEnd == std::string::npos) {
                    if (response.size() > 65536) {
                        return std::nullopt;
                    }
                    continue;
                }
                if (response.compare(0, 13, "HTTP/1.1 200 ") != 0) {
                    return std::nullopt;
                }
                bodyStart = headEnd + 4;
                length = contentLength(response.substr(0, headEnd + 2));
                if (!length) {
                    return std::nullopt;
                }
            }
        }
        return response.substr(*bodyStart, *length);
    } catch (const tnw::util::Exception&) {
        return std::nullopt;
    }
}

void printRefusals(const std::string& host) {
    auto server = protocol::splitServerAddress(host);
    if (!server) {
        return;
    }
    std::uint32_t address = tnw::util::resolve(server->first);
    if (address == 0) {
        return;
    }
    auto port = static_cast<std::uint16_t>(server::readRegistryNumber("http status port", 8080));
    std::optional<std::string> document = fetchStatusJson(address, port);
    std::optional<std::vector<std::string>> texts =
        document ? refusalTexts(*document) : std::nullopt;
    if (!texts) {
        return;
    }
    if (texts->empty()) {
        std::puts("Refusals: none");
    } else {
        std::puts("Refusals:");
        for (const std::string& text : *texts) {
            std::printf("  %s\n", text.c_str());
        }
    }
    std::fflush(stdout);
}

} // namespace plexmill::cli
