// The client side of the session protocol for tests: raw bytes over TCP with deadlines, so a
// test can check every byte the server sends and see exactly when it closes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tnw::test {

using namespace std::chrono_literals;

inline constexpr std::string_view kCurrentNamespaceUri =
    "http://quorvex.example/namespace/quorvexmill/pmd";
inline constexpr std::string_view kLegacyNamespaceUri =
    "http://tornwell.example/namespace/tornwellpmd";

class SessionClient {
public:
    // Connects to 127.0.0.1:port; isOpen() tells whether it worked.
    explicit SessionClient(std::uint16_t port = 7387);
    ~SessionClient();
    SessionClient(const SessionClient&) = delete;
    SessionClient& operator=(const SessionClient&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    std::uint16_t localPort() const;

    void send(std::string_view bytes);
    // Sends the namespace line and returns what came back as its echo.
    std::string handshake(std::string_view uri = kCurrentNamespaceUri);

    // Exactly `count` bytes, or fewer when the server closed or the deadline passed.
    std::string receive(std::size_t count, std::chrono::milliseconds deadline = 10s);
    // Up to and including the next LF (or what came before the server closed).
    std::string receiveLine(std::chrono::milliseconds deadline = 10s);
    // Lines up to and including the first empty line.
    std::string receiveBlock(std::chrono::milliseconds deadline = 10s);
    // Everything until the server ends its data; empty when it sent nothing more.
    std::string receiveUntilEnd(std::chrono::milliseconds deadline = 10s);
    // True when the server has ended its data (shut down or closed) within the deadline,
    // whatever it sent before.
    bool endedByServer(std::chrono::milliseconds deadline = 10s);
    // True when nothing arrives and the connection stays up for `quiet`.
    bool staysQuiet(std::chrono::milliseconds quiet = 300ms);

    // An orderly close, or a reset that throws away what is unsent.
    void close();
    void reset();

private:
    // One read with the deadline: bytes read, 0 at the end of the data, -1 on time-out.
    long readSome(char* buffer, std::size_t size, std::chrono::steady_clock::time_point end);

    int fd_ = -1;
    bool ended_ = false;
};

} // namespace tnw::test
