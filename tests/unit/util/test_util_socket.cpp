#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/checksum.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/pipe.hpp"
#include "util/sha256_output_stream.hpp"
#include "util/socket.hpp"
#include "util/spliced_receive.hpp"
#include "util/sync.hpp"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tnw::util {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kFiveSeconds = 5'000'000;

struct Connection {
    Socket listener;
    Socket client;
    Socket server;
};

Socket listenOnLoopback(bool eventDriven = false) {
    Socket listener;
    EXPECT_TRUE(listener.create(true));
    if (eventDriven) {
        EXPECT_TRUE(listener.makeEventDriven());
    }
    EXPECT_TRUE(listener.bind({InetAddress::kLoopback, 0}));
    EXPECT_TRUE(listener.listen(5));
    return listener;
}

Connection connectOnLoopback() {
    Connection connection;
    connection.listener = listenOnLoopback();
    EXPECT_TRUE(connection.client.create(true));
    EXPECT_TRUE(connection.client.connect(connection.listener.getLocalAddress()));
    connection.server = connection.listener.accept();
    EXPECT_TRUE(connection.server.isValid());
    return connection;
}

void resetOnClose(Socket& socket) {
    linger abort{1, 0};
    ASSERT_EQ(::setsockopt(socket.handle().fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    socket.close();
}

template <class Call> std::uint32_t ioExceptionCode(Call call, bool& endOfStream) {
    try {
        call();
    } catch (const EndOfStreamException&) {
        endOfStream = true;
        return 0;
    } catch (const IOException& failure) {
        return failure.getCode();
    }
    ADD_FAILURE() << "no exception";
    return 0;
}

TEST(Socket, StreamCarriesBytesBothWaysAndCountsThem) {
    Connection connection = connectOnLoopback();
    InetAddress listening = connection.listener.getLocalAddress();
    EXPECT_EQ(listening.address(), 0x7F000001U);
    EXPECT_NE(listening.port(), 0);
    EXPECT_EQ(connection.server.getPeerAddress(), connection.client.getLocalAddress());
    EXPECT_EQ(connection.client.getPeerAddress(), listening);

    connection.client.sendAll("hello\n", 6);
    char buffer[16] = {};
    std::size_t received = 0;
    while (received < 6) {
        received += connection.server.receive(buffer + received, sizeof buffer - received);
    }
    EXPECT_EQ(std::string(buffer, received), "hello\n");
    EXPECT_EQ(connection.server.send("ACK\n", 4), 4U);
    EXPECT_EQ(connection.client.receive(buffer, 4), 4U);
    EXPECT_EQ(connection.client.handle().impl()->bytesWritten, 6U);
    EXPECT_EQ(connection.client.handle().impl()->bytesRead, 4U);
    EXPECT_EQ(connection.server.handle().impl()->bytesRead, 6U);

    for (const Socket* socket : {&connection.listener, &connection.client, &connection.server}) {
        EXPECT_EQ(::fcntl(socket->handle().fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    }
}

TEST(Socket, SendAllWritesEveryByteThroughAFullNonBlockingSocket) {
    Connection connection = connectOnLoopback();
    connection.client.setNonBlocking(true);
    std::string data(8 << 20, 'x');
    data.back() = 'y';
    std::string received;
    std::thread reader([&] {
        char buffer[65536];
        while (received.size() < data.size()) {
            std::size_t count = connection.server.receive(buffer, sizeof buffer);
            if (count == 0) {
                break;
            }
            received.append(buffer, count);
        }
    });
    connection.client.sendAll(data.data(), data.size());
    reader.join();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_EQ(received.back(), 'y');
}

TEST(Socket, SpliceFromAPipeMovesItsBytesCountsThemAndSeesTheEnd) {
    Connection connection = connectOnLoopback();
    Pipe pipe;
    ASSERT_EQ(pipe.create(false), 0U);
    EXPECT_GE(pipe.setCapacity(1 << 20), std::size_t{1} << 20);
    std::string sent(300000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i * 7);
    }
    ASSERT_EQ(::write(pipe.writeEnd().fd(), sent.data(), sent.size()),
              static_cast<ssize_t>(sent.size()));
    pipe.writeEnd().close();
    // At most 65536 bytes a call, in order, until the pipe is empty and has no writer.
    std::thread reader([&] {
        std::string received;
        char buffer[65536];
        while (std::size_t got = connection.client.receive(buffer, sizeof buffer)) {
            received.append(buffer, got);
        }
        EXPECT_EQ(received, sent);
    });
    std::size_t moved = 0;
    while (std::size_t step = connection.server.spliceFrom(pipe.readEnd(), 65536)) {
        EXPECT_LE(step, 65536U);
        moved += step;
    }
    EXPECT_EQ(moved, sent.size());
    EXPECT_EQ(connection.server.handle().impl()->bytesWritten.load(), sent.size());
    EXPECT_EQ(pipe.readEnd().impl()->bytesRead.load(), sent.size());
    connection.server.shutdownSend();
    reader.join();

    // A peer that has gone: as send, a reset connection and no SIGPIPE.
    Connection gone = connectOnLoopback();
    resetOnClose(gone.client);
    Pipe more;
    ASSERT_EQ(more.create(false), 0U);
    std::string block(65536, 'x');
    bool endOfStream = false;
    std::uint32_t code = ioExceptionCode(
        [&] {
            for (;;) {
                ASSERT_EQ(::write(more.writeEnd().fd(), block.data(), block.size()), 65536);
                gone.server.spliceFrom(more.readEnd(), block.size());
            }
        },
        endOfStream);
    EXPECT_FALSE(endOfStream);
    EXPECT_EQ(code, 10054U);
}

TEST(Socket, ReceiveAfterOrderlyCloseReturnsZero) {
    Connection connection = connectOnLoopback();
    connection.server.sendAll("bye", 3);
    connection.server.close();
    char buffer[8];
    EXPECT_EQ(connection.client.receive(buffer, sizeof buffer), 3U);
    EXPECT_EQ(connection.client.receive(buffer, sizeof buffer), 0U);
    EXPECT_EQ(connection.client.receive(buffer, sizeof buffer), 0U);
}

class FailingDigest : public OutputStream {
public:
    std::uint64_t write(const void*, std::uint64_t) override { raise(IOException(23U)); }
};

// Three pieces of 1.5 MiB, 20 ms apart: more than a pipe holds, and each arrives in several
// moves. The bytes after the file stay on the connection for what the client sends next.
TEST(Socket, SplicedReceiveFillsTheFileAndTheDigestAndStopsAtItsSize) {
    test::TempFolder folder;
    std::string data;
    for (std::size_t i = 0; data.size() < 4'718'592; ++i) {
        data += std::to_string(i * 2654435761U) + ",";
    }
    data.resize(4'718'592);
    Connection connection = connectOnLoopback();
    std::thread sender([&] {
        for (std::size_t at = 0; at < data.size(); at += data.size() / 3) {
            connection.client.sendAll(data.data() + at, data.size() / 3);
            std::this_thread::sleep_for(20ms);
        }
        connection.client.sendAll("NEXT\n", 5);
    });
    std::string path = (folder.path() / "received").string();
    SHA256OutputStream digest;
    {
        FileOutputStream file(path);
        EXPECT_EQ(receiveSpliced(connection.server, file, data.size(), &digest),
                  SplicedReceipt::Received);
    }
    sender.join();
    EXPECT_EQ(test::readText(path), data);
    EXPECT_EQ(finishChecksum(digest).checksum, fileChecksum(path));
    EXPECT_EQ(connection.server.handle().impl()->bytesRead, data.size());
    char next[8] = {};
    EXPECT_EQ(connection.server.receive(next, sizeof next), 5U);
    EXPECT_EQ(std::string(next), "NEXT\n");
}

// A peer that closes early leaves what it sent in the file; a failing digest still lets the
// whole file through and is reported after it.
TEST(Socket, SplicedReceiveEndsWithThePeerAndReportsAFailingDigestLast) {
    test::TempFolder folder;
    std::string path = (folder.path() / "received").string();
    Connection ending = connectOnLoopback();
    ending.client.sendAll("short", 5);
    ending.client.close();
    {
        FileOutputStream file(path);
        EXPECT_EQ(receiveSpliced(ending.server, file, 100, nullptr), SplicedReceipt::PeerClosed);
    }
    EXPECT_EQ(test::readText(path), "short");

    Connection connection = connectOnLoopback();
    std::string data(3 << 20, 'x');
    std::thread sender([&] { connection.client.sendAll(data.data(), data.size()); });
    FailingDigest digest;
    std::uint32_t code = 0;
    {
        FileOutputStream file(path);
        try {
            receiveSpliced(connection.server, file, data.size(), &digest);
        } catch (const IOException& failure) {
            code = failure.getCode();
        }
    }
    sender.join();
    EXPECT_EQ(code, 23U);
    EXPECT_EQ(std::filesystem::file_size(path), data.size());
}

TEST(Socket, ResetConnectionIsAnIOExceptionNotEndOfStream) {
    Connection connection = connectOnLoopback();
    resetOnClose(connection.server);
    char buffer[8];
    bool endOfStream = false;
    EXPECT_EQ(
        ioExceptionCode([&] { connection.client.receive(buffer, sizeof buffer); }, endOfStream),
        10054U);
    EXPECT_FALSE(endOfStream);
    // The kernel reports the reset once; later sends find the socket unable to send and must
    // still say "reset", not "shut down", and must not raise SIGPIPE.
    EXPECT_EQ(ioExceptionCode([&] { connection.client.sendAll("x", 1); }, endOfStream), 10054U);
    EXPECT_FALSE(endOfStream);
}

TEST(Socket, SendingToAClosedPeerFailsWithResetWithoutSigpipe) {
    Connection connection = connectOnLoopback();
    connection.server.close();
    bool endOfStream = false;
    std::uint32_t code = ioExceptionCode(
        [&] {
            for (;;) { // the first sends may still be taken before the peer's reset arrives
                connection.client.sendAll("data", 4);
            }
        },
        endOfStream);
    EXPECT_EQ(code, 10054U);
    EXPECT_FALSE(endOfStream);
}

TEST(Socket, OwnShutdownEndsTheStream) {
    Connection connection = connectOnLoopback();
    connection.client.shutdownSend();
    EXPECT_THROW(connection.client.send("x", 1), EndOfStreamException);
    EXPECT_THROW(connection.client.sendAll("x", 1), EndOfStreamException);
    char buffer[8];
    EXPECT_EQ(connection.server.receive(buffer, sizeof buffer), 0U); // the peer sees our FIN

    connection.server.shutdownReceive();
    EXPECT_THROW(connection.server.receive(buffer, sizeof buffer), EndOfStreamException);
}

TEST(Socket, ReceiveTimeoutThrowsTimedOut) {
    Connection connection = connectOnLoopback();
    ASSERT_TRUE(connection.client.setReceiveTimeout(15));
    char buffer[8];
    auto start = std::chrono::steady_clock::now();
    try {
        connection.client.receive(buffer, sizeof buffer);
        FAIL() << "no time-out";
    } catch (const IOTimedOutException& failure) {
        EXPECT_EQ(failure.getCode(), 10060U);
        EXPECT_STREQ(failure.className(), "tnw::util::IOTimedOutException");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 14ms);

    Socket datagrams;
    ASSERT_TRUE(datagrams.create(false));
    ASSERT_TRUE(datagrams.bind({InetAddress::kLoopback, 0}));
    ASSERT_TRUE(datagrams.setReceiveTimeout(15));
    EXPECT_THROW(datagrams.receiveFrom(buffer, sizeof buffer), IOTimedOutException);
}

TEST(Socket, NonBlockingCallsThatWouldBlockReturnNothing) {
    Socket listener = listenOnLoopback();
    listener.setNonBlocking(true);
    EXPECT_FALSE(listener.accept().isValid());

    Connection connection = connectOnLoopback();
    connection.client.setNonBlocking(true);
    char buffer[8];
    EXPECT_EQ(connection.client.receive(buffer, sizeof buffer), 0U);

    Socket datagrams;
    ASSERT_TRUE(datagrams.create(false));
    ASSERT_TRUE(datagrams.bind({InetAddress::kLoopback, 0}));
    datagrams.setNonBlocking(true);
    ReceiveFromResult nothing = datagrams.receiveFrom(buffer, sizeof buffer);
    EXPECT_EQ(nothing.status, ReceiveStatus::kNothingWaiting);
    EXPECT_EQ(nothing.count, 0U);
}

TEST(Socket, EventHandleSignalsWhileAConnectionWaits) {
    Socket listener = listenOnLoopback(true);
    EXPECT_FALSE(listener.makeEventDriven());
    Event stop;
    ASSERT_TRUE(stop.create());
    Handle handles[] = {stop.handle(), listener.eventHandle()};
    EXPECT_EQ(waitForAny(handles, 2, false, 0), 0U);

    Socket client;
    ASSERT_TRUE(client.create(true));
    ASSERT_TRUE(client.connect(listener.getLocalAddress()));
    EXPECT_EQ(waitForAny(handles, 2, false, kFiveSeconds), 2U);

    // The accepted connection stays non-blocking like its listener until switched back.
    Socket accepted = listener.accept();
    ASSERT_TRUE(accepted.isValid());
    EXPECT_FALSE(accepted.eventHandle().isValid());
    EXPECT_FALSE(listener.accept().isValid());
    EXPECT_EQ(waitForAny(handles, 2, false, 0), 0U); // readiness ends with the last connection
    char buffer[8];
    accepted.setReceiveTimeout(15); // a blocking socket would time out instead
    EXPECT_EQ(accepted.receive(buffer, sizeof buffer), 0U);
    accepted.setNonBlocking(false);
    EXPECT_THROW(accepted.receive(buffer, sizeof buffer), IOTimedOutException);

    // Closing the listener empties every copy of its event handle.
    listener.close();
    EXPECT_FALSE(handles[1].isValid());
    EXPECT_EQ(waitForAny(handles + 1, 1, false, kFiveSeconds), 0U);
}

TEST(Socket, AcceptClosesPeersThatAreNotIPv4) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    Socket listener = Socket::adopt(fd);
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_TRUE(listener.listen(1));
    socklen_t length = sizeof local;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length), 0);

    int peer = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(peer, 0);
    Socket peerOwner = Socket::adopt(peer);
    ASSERT_EQ(::connect(peer, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    EXPECT_EQ(peerOwner.getLocalAddress(), InetAddress()); // not IPv4: no address

    EXPECT_FALSE(listener.accept().isValid());
    char buffer[8];
    peerOwner.setReceiveTimeout(5000);
    EXPECT_EQ(peerOwner.receive(buffer, sizeof buffer), 0U); // closed, not left waiting
}

TEST(Socket, BroadcastDatagramsReachSocketsOfThisHost) {
    Socket receiver;
    ASSERT_TRUE(receiver.create(false));
    ASSERT_TRUE(receiver.makeEventDriven());
    ASSERT_TRUE(receiver.bind({InetAddress::kAny, 0}));
    std::uint16_t port = receiver.getLocalAddress().port();

    Socket sender;
    ASSERT_TRUE(sender.create(false));
    ASSERT_TRUE(sender.bind({InetAddress::kAny, 0}));
    const char request[] = "request-advertise";
    try {
        sender.sendTo({InetAddress::kBroadcast, port}, request, sizeof request - 1);
        FAIL() << "broadcast without the option";
    } catch (const IOException& failure) {
        EXPECT_EQ(failure.getCode(), 5U); // EACCES
    }
    sender.setBroadcast(true);
    EXPECT_EQ(sender.sendTo({InetAddress::kBroadcast, port}, request, sizeof request - 1), 17U);

    Handle handles[] = {receiver.eventHandle()};
    ASSERT_EQ(waitForAny(handles, 1, false, kFiveSeconds), 1U);
    char buffer[1024];
    ReceiveFromResult datagram = receiver.receiveFrom(buffer, sizeof buffer);
    EXPECT_EQ(datagram.status, ReceiveStatus::kReceived);
    EXPECT_EQ(std::string(buffer, datagram.count), "request-advertise");
    EXPECT_EQ(datagram.sender.port(), sender.getLocalAddress().port());
    EXPECT_EQ(receiver.handle().impl()->bytesRead, 17U);
    EXPECT_EQ(sender.handle().impl()->bytesWritten, 17U);

    // A reply to the sender's address reaches it; a longer datagram is cut to the buffer.
    EXPECT_EQ(receiver.sendTo(datagram.sender, "advertise", 9), 9U);
    sender.setReceiveTimeout(5000);
    ReceiveFromResult reply = sender.receiveFrom(buffer, 3);
    EXPECT_EQ(std::string(buffer, reply.count), "adv");
    EXPECT_EQ(reply.sender.port(), port);
}

TEST(Socket, ListenerPortIsFreeAgainWhileClosedConnectionsLinger) {
    Connection connection = connectOnLoopback();
    InetAddress address = connection.listener.getLocalAddress();
    connection.server.close(); // the server closes first: its end of the connection lingers
    char buffer[8];
    EXPECT_EQ(connection.client.receive(buffer, sizeof buffer), 0U);
    connection.client.close();
    connection.listener.close();

    Socket again;
    ASSERT_TRUE(again.create(true));
    EXPECT_TRUE(again.bind(address));
    EXPECT_TRUE(again.listen(5));
    Socket second;
    ASSERT_TRUE(second.create(true));
    EXPECT_FALSE(second.bind(address)) << "two listeners on one port";
}

TEST(Socket, EmptySocketIsNeutral) {
    Socket socket;
    char buffer[4];
    EXPECT_FALSE(socket.isValid());
    EXPECT_FALSE(socket.bind({InetAddress::kLoopback, 0}));
    EXPECT_FALSE(socket.listen(1));
    EXPECT_FALSE(socket.accept().isValid());
    EXPECT_FALSE(socket.connect({InetAddress::kLoopback, 1}));
    EXPECT_FALSE(socket.makeEventDriven());
    EXPECT_EQ(socket.receive(buffer, sizeof buffer), 0U);
    EXPECT_EQ(socket.send(buffer, sizeof buffer), 0U);
    EXPECT_EQ(socket.getPeerAddress(), InetAddress());
    EXPECT_EQ(socket.close(), 0U);
    EXPECT_THROW(socket.sendAll("x", 1), IOException);

    ASSERT_TRUE(socket.create(true));
    EXPECT_FALSE(socket.create(true));
    EXPECT_FALSE(socket.connect({InetAddress::kLoopback, 1})); // nothing listens there
    socket.close();
    EXPECT_TRUE(socket.create(false)); // a closed Socket may hold a new one
}

TEST(Socket, DuplicateIsASocketOfItsOwn) {
    Connection connection = connectOnLoopback();
    auto [copy, error] = connection.client.handle().duplicate(false);
    EXPECT_EQ(error, 0U);
    ASSERT_TRUE(copy.isValid());
    EXPECT_NE(dynamic_cast<Socket::SocketHandleImpl*>(copy.impl()), nullptr);
    EXPECT_EQ(::fcntl(copy.fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    connection.client.close();
    ASSERT_EQ(::send(copy.fd(), "z", 1, MSG_NOSIGNAL), 1); // the duplicate keeps it open
    char byte = 0;
    EXPECT_EQ(connection.server.receive(&byte, 1), 1U);
    EXPECT_EQ(byte, 'z');
}

} // namespace
} // namespace tnw::util
