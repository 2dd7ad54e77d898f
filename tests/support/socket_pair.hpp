// Two connected stream sockets in this process: the server's end as a util Socket, the
// client's end as a plain descriptor that a test writes and reads directly.
#pragma once

#include "util/socket.hpp"

#include <chrono>
#include <string>
#include <string_view>

namespace tnw::test {

class SocketPair {
public:
    SocketPair();
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    tnw::util::Socket server;

    void send(std::string_view bytes) const;
    // Everything until the server's end stops sending (shut down or closed), or the deadline.
    std::string
    receiveUntilEnd(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
    // Exactly `count` bytes, fewer at the end or the deadline.
    std::string receive(std::size_t count,
                        std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
    // Stops sending; the server's end reads the end of the stream.
    void shutdownClient() const;
    void closeClient();

private:
    int client_ = -1;
};

} // namespace tnw::test
