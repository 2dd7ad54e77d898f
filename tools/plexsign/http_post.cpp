#include "tools/plexsign/http_post.hpp"

#include "util/exception.hpp"
#include "util/handle.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <system_error>

namespace plexmill::plexsign {

using tnw::util::Exception;
using tnw::util::Handle;
using tnw::util::raise;

namespace {

using Clock = std::chrono::steady_clock;

// Replies larger than this are no time-stamp replies.
constexpr std::size_t kMaximumReply = std::size_t{4} * 1024 * 1024;

struct Url {
    std::string host;
    std::string port = "80";
    std::string authority; // as written, for the Host header
    std::string path = "/";
};

struct Reply {
    int status = 0;
    std::string reason;
    std::string body;
};

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return result;
}

std::string systemMessage(int number) {
    return std::system_category().message(number);
}

Url parseUrl(const std::string& text) {
    constexpr std::string_view kScheme = "http://";
    if (lowered(text.substr(0, kScheme.size())) != kScheme) {
        raise(Exception("only http:// addresses are supported: '" + text + "'"));
    }
    Url url;
    const std::string rest = text.substr(kScheme.size());
    const auto slash = rest.find('/');
    url.authority = rest.substr(0, slash);
    if (slash != std::string::npos) {
        url.path = rest.substr(slash);
    }
    std::string portText;
    if (url.authority.starts_with('[')) {
        const auto close = url.authority.find(']');
        if (close == std::string::npos) {
            raise(Exception("unterminated IPv6 address in '" + text + "'"));
        }
        url.host = url.authority.substr(1, close - 1);
        const std::string after = url.authority.substr(close + 1);
        if (!after.empty() && after[0] != ':') {
            raise(Exception("unexpected text after the address in '" + text + "'"));
        }
        portText = after.empty() ? "" : after.substr(1);
    } else {
        const auto colon = url.authority.rfind(':');
        url.host = url.authority.substr(0, colon);
        portText = colon == std::string::npos ? "" : url.authority.substr(colon + 1);
    }
    if (!portText.empty()) {
        url.port = portText;
    }
    if (url.host.empty() || url.port.size() > 5 ||
        !std::all_of(
            url.port.begin(), url.port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        raise(Exception("not a usable address: '" + text + "'"));
    }
    return url;
}

// Waits until the socket is ready for `events`; false at the deadline.
bool waitFor(const Handle& socket, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd entry{socket.fd(), events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            raise(Exception("waiting for the time-stamp authority: " + systemMessage(errno)));
        }
    }
}

Handle connectTo(const Url& url, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int failed = ::getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &found)) {
        raise(Exception("cannot resolve '" + url.host + "': " + ::gai_strerror(failed)));
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    std::string failure = "no address";
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        Handle socket(::socket(address->ai_family,
                               address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                               address->ai_protocol));
        if (!socket.isValid()) {
            failure = systemMessage(errno);
            continue;
        }
        if (::connect(socket.fd(), address->ai_addr, address->ai_addrlen) != 0 &&
            errno != EINPROGRESS) {
            failure = systemMessage(errno);
            continue;
        }
        if (!waitFor(socket, POLLOUT, deadline)) {
            failure = "timed out";
            break;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
            return socket;
        }
        failure = systemMessage(error);
    }
    raise(Exception("cannot connect to " + url.authority + ": " + failure));
}

void sendAll(const Handle& socket, std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        const ssize_t sent = ::send(socket.fd(), data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(socket, POLLOUT, deadline)) {
                raise(Exception("timed out sending the request"));
            }
        } else {
            raise(Exception("cannot send the request: " + systemMessage(errno)));
        }
    }
}

// Decodes a chunked body; nullopt while more bytes are needed.
std::optional<std::string> dechunk(std::string_view data) {
    std::string body;
    for (;;) {
        const auto lineEnd = data.find("\r\n");
        if (lineEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string sizeText(data.substr(0, std::min(lineEnd, data.find(';'))));
        char* end = nullptr;
        const unsigned long long size = std::strtoull(sizeText.c_str(), &end, 16);
        if (sizeText.empty() || end != sizeText.c_str() + sizeText.size() || size > kMaximumReply) {
            raise(Exception("malformed chunked reply"));
        }
        data.remove_prefix(lineEnd + 2);
        if (size == 0) {
            // Trailer fields, if any, end with an empty line.
            return data.find("\r\n") == 0 || data.find("\r\n\r\n") != std::string_view::npos
                       ? std::optional(body)
                       : std::nullopt;
        }
        if (data.size() < size + 2) {
            return std::nullopt;
        }
        body.append(data.substr(0, size));
        data.remove_prefix(size + 2);
    }
}

// The reply in `data` once it is complete; `closed` says the server has sent everything.
std::optional<Reply> parseReply(const std::string& data, bool closed) {
    const auto headerEnd = data.find("\r\n\r\n");
    if (headerEnd == std::string::npos) {
        if (closed) {
            raise(Exception("the server closed the connection without a complete reply"));
        }
        return std::nullopt;
    }
    Reply reply;
    const auto statusEnd = data.find("\r\n");
    const std::string statusLine = data.substr(0, statusEnd);
    if (!statusLine.starts_with("HTTP/1.") || statusLine.size() < 12 || statusLine[8] != ' ') {
        raise(Exception("not an HTTP reply: '" + statusLine.substr(0, 80) + "'"));
    }
    reply.status = std::atoi(statusLine.c_str() + 9);
    reply.reason = statusLine.size() > 13 ? statusLine.substr(13) : "";
    bool chunked = false;
    std::optional<std::size_t> length;
    for (auto start = statusEnd + 2; start < headerEnd;) {
        const auto end = data.find("\r\n", start);
        const std::string line = data.substr(start, end - start);
        start = end + 2;
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string name = lowered(line.substr(0, colon));
        const auto valueStart = line.find_first_not_of(" \t", colon + 1);
        const std::string value =
            valueStart == std::string::npos ? "" : lowered(line.substr(valueStart));
        if (name == "transfer-encoding" && value.find("chunked") != std::string::npos) {
            chunked = true;
        } else if (name == "content-length") {
            length = std::strtoull(value.c_str(), nullptr, 10);
        }
    }
    const std::string_view body = std::string_view(data).substr(headerEnd + 4);
    if (chunked) {
        auto decoded = dechunk(body);
        if (!decoded && closed) {
            raise(Exception("the server closed the connection in the middle of the reply"));
        }
        if (!decoded) {
            return std::nullopt;
        }
        reply.body = std::move(*decoded);
    } else if (length) {
        if (body.size() < *length) {
            if (closed) {
                raise(Exception("the server closed the connection in the middle of the reply"));
            }
            return std::nullopt;
        }
        reply.body = body.substr(0, *length);
    } else if (closed) {
        reply.body = body;
    } else {
        return std::nullopt;
    }
    return reply;
}

Reply receiveReply(const Handle& socket, Clock::time_point deadline) {
    std::string data;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (count > 0) {
            data.append(buffer, static_cast<std::size_t>(count));
            if (data.size() > kMaximumReply) {
                raise(Exception("the reply is too large"));
            }
            if (auto reply = parseReply(data, false)) {
                return *reply;
            }
        } else if (count == 0) {
            return *parseReply(data, true);
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(socket, POLLIN, deadline)) {
                raise(Exception("timed out waiting for the reply"));
            }
        } else {
            raise(Exception("cannot receive the reply: " + systemMessage(errno)));
        }
    }
}

} // namespace

std::vector<std::uint8_t> httpPost(const std::string& url,
                                   const std::string& contentType,
                                   std::span<const std::uint8_t> body,
                                   std::chrono::milliseconds timeout) {
    const auto target = parseUrl(url);
    const auto deadline = Clock::now() + timeout;
    const Handle socket = connectTo(target, deadline);
    std::string request = "POST " + target.path + " HTTP/1.1\r\nHost: " + target.authority +
                          "\r\nContent-Type: " + contentType +
                          "\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\nUser-Agent: plexsign\r\n\r\n";
    request.append(body.begin(), body.end());
    sendAll(socket, request, deadline);
    const Reply reply = receiveReply(socket, deadline);
    if (reply.status != 200) {
        raise(Exception("the server answered HTTP " + std::to_string(reply.status) +
                        (reply.reason.empty() ? "" : " " + reply.reason)));
    }
    return {reply.body.begin(), reply.body.end()};
}

} // namespace plexmill::plexsign
