#include "service/http/http_connection.hpp"
#include "util/exception.hpp"
#include "util/socket.hpp"

#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace plexmill::http {
namespace {

using tnw::util::InetAddress;
using tnw::util::Socket;

// A connected pair on loopback: the test writes to `client`, the connection reads `server`.
struct Pair {
    Pair() {
        EXPECT_TRUE(listener.create(true));
        EXPECT_TRUE(listener.bind({InetAddress::kLoopback, 0}));
        EXPECT_TRUE(listener.listen(1));
        EXPECT_TRUE(client.create(true));
        EXPECT_TRUE(client.connect(listener.getLocalAddress()));
        server = listener.accept();
        EXPECT_TRUE(server.isValid());
        server.setReceiveTimeout(5000);
    }
    void send(const std::string& bytes) { client.sendAll(bytes.data(), bytes.size()); }

    Socket listener;
    Socket client;
    Socket server;
};

TEST(HttpConnection, LinesEndAtLineFeedsWithoutTheCarriageReturnBeforeThem) {
    Pair pair;
    HttpConnection connection(pair.server);
    pair.send("GET / HTTP/1.1\r\nHost: x\n\r\na\rb\r\r\n");
    EXPECT_EQ(connection.readLine(), "GET / HTTP/1.1");
    EXPECT_EQ(connection.readLine(), "Host: x");
    EXPECT_EQ(connection.readLine(), "");
    EXPECT_EQ(connection.readLine(), "a\rb\r");
}

TEST(HttpConnection, LinesOf1024CharactersWithoutLineFeedReadAsEmpty) {
    Pair pair;
    HttpConnection connection(pair.server);
    const std::string longest(1023, 'a');
    const std::string tooLong(1024, 'b');
    pair.send(longest + "\n" + std::string(1022, 'c') + "\r\n" + tooLong + "\r\n" +
              std::string(2000, 'd') + "\r\nnext\r\n");
    EXPECT_EQ(connection.readLine(), longest);
    EXPECT_EQ(connection.readLine(), std::string(1022, 'c'));
    // 1024 characters came first; the line feed after them is read as the next (empty) line.
    EXPECT_EQ(connection.readLine(), "");
    EXPECT_EQ(connection.readLine(), "");
    // The first 1024 characters are dropped and the rest of the line is read next.
    EXPECT_EQ(connection.readLine(), "");
    EXPECT_EQ(connection.readLine(), std::string(976, 'd'));
    EXPECT_EQ(connection.readLine(), "next");
}

TEST(HttpConnection, LinesSpanningSeveralReceivesComeOutWhole) {
    Pair pair;
    HttpConnection connection(pair.server);
    std::string expected;
    std::string bytes;
    for (int line = 0; line < 40; ++line) {
        std::string text =
            std::to_string(line) + ":" + std::string(997, static_cast<char>('a' + line % 26));
        bytes += text + "\r\n";
    }
    pair.send(bytes);
    for (int line = 0; line < 40; ++line) {
        SCOPED_TRACE(line);
        std::string text = connection.readLine();
        EXPECT_TRUE(text.starts_with(std::to_string(line) + ":"));
        EXPECT_EQ(text.size(), std::to_string(line).size() + 998);
    }
}

TEST(HttpConnection, ClosedPeerGivesEmptyLinesAndDropsAPartialOne) {
    Pair pair;
    HttpConnection connection(pair.server);
    pair.send("complete\npartial");
    pair.client.shutdownSend();
    EXPECT_EQ(connection.readLine(), "complete");
    EXPECT_EQ(connection.readLine(), "");
    EXPECT_EQ(connection.readLine(), "");
}

TEST(HttpConnection, PauseLongerThanTheReceiveTimeoutThrowsTimedOut) {
    Pair pair;
    pair.server.setReceiveTimeout(15);
    HttpConnection connection(pair.server);
    pair.send("GET / HT");
    EXPECT_THROW(connection.readLine(), tnw::util::IOTimedOutException);
}

TEST(HttpConnection, WriteSendsEveryByte) {
    Pair pair;
    HttpConnection connection(pair.server);
    const std::string bytes(300'000, 'x');
    std::string received;
    std::thread reader([&] {
        char buffer[65536];
        while (received.size() < bytes.size()) {
            std::size_t count = pair.client.receive(buffer, sizeof buffer);
            if (count == 0) {
                break;
            }
            received.append(buffer, count);
        }
    });
    connection.write(bytes);
    reader.join();
    EXPECT_EQ(received.size(), bytes.size());
}

TEST(HttpConnection, WithoutASocketItIsNotConnected) {
    HttpConnection connection{Socket()};
    try {
        connection.readLine();
        FAIL() << "no exception";
    } catch (const tnw::util::IOException& failure) {
        EXPECT_EQ(failure.getMessage(), "Not connected.");
    }
    EXPECT_THROW(connection.write("x"), tnw::util::IOException);
}

} // namespace
} // namespace plexmill::http
