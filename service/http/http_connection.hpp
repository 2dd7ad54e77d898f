// One accepted connection of the status port, read line by line. Received bytes are buffered,
// so a request costs a few receive calls rather than one per byte; a pause longer than the
// socket's receive time-out still ends the connection.
#pragma once

#include "util/socket.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plexmill::http {

class HttpConnection {
public:
    // A line that reaches this length without a line feed reads as empty.
    static constexpr std::size_t kMaximumLineLength = 1024;

    // `sendTimeout`: microseconds a write may wait for the client to make room.
    explicit HttpConnection(tnw::util::Socket socket,
                            std::uint32_t sendTimeout = tnw::util::kInfinite)
        : socket_(std::move(socket)), sendTimeout_(sendTimeout) {}

    // The next line without its line feed and the carriage return before it. Empty for an
    // empty line, when the peer closed the connection before a line feed, and when
    // kMaximumLineLength characters came without one (those are dropped; the rest of the line
    // is read next). Throws IOTimedOutException when the receive time-out passes,
    // IOException "Not connected." without a socket.
    std::string readLine();
    // Sends every byte; IOTimedOutException when the client takes nothing for the send
    // time-out.
    void write(std::string_view bytes);

private:
    // False when the peer closed the connection.
    bool receive();

    tnw::util::Socket socket_;
    std::uint32_t sendTimeout_;
    std::array<char, 4096> buffer_{};
    std::size_t position_ = 0; // first byte not read yet
    std::size_t size_ = 0;     // bytes in the buffer
};

} // namespace plexmill::http
