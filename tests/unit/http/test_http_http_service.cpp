#include "service/http/http_service.hpp"
#include "tests/unit/http/status_fixture.hpp"
#include "util/socket.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace plexmill::http {
namespace {

using tnw::util::InetAddress;
using tnw::util::Socket;
using HttpServiceTest = testing::StatusTest;

constexpr std::uint32_t kFiveSeconds = 5'000'000;

// The server side of the test's connections: accepts each and hands it to the service, as the
// main loop does.
class Listener {
public:
    Listener() {
        EXPECT_TRUE(socket_.create(true));
        EXPECT_TRUE(socket_.bind({InetAddress::kLoopback, 0}));
        EXPECT_TRUE(socket_.listen(16));
    }

    Socket connect(HttpService& service, server::Manager& manager) {
        Socket client;
        EXPECT_TRUE(client.create(true));
        EXPECT_TRUE(client.connect(socket_.getLocalAddress()));
        client.setReceiveTimeout(5000);
        Socket accepted = socket_.accept();
        EXPECT_TRUE(accepted.isValid());
        service.serve(manager, accepted);
        return client;
    }

private:
    Socket socket_;
};

std::string ask(Socket& client, const std::string& request) {
    client.sendAll(request.data(), request.size());
    std::string response;
    char buffer[4096];
    while (!response.ends_with("}\r\n")) {
        std::size_t count = client.receive(buffer, sizeof buffer);
        if (count == 0) {
            break;
        }
        response.append(buffer, count);
    }
    return response;
}

// True when the server closed the connection without sending anything.
bool closedUnanswered(Socket& client) {
    char byte = 0;
    return client.receive(&byte, 1) == 0;
}

TEST_F(HttpServiceTest, RecordsThePeerAndServesOnAThreadOfItsOwn) {
    HttpService service;
    Listener listener;
    Socket client = listener.connect(service, manager);
    {
        tnw::util::Lock lock(tnw::util::globalLock());
        ASSERT_EQ(manager.recentRequests.size(), 1U);
        EXPECT_EQ(manager.recentRequests.front().kind, server::RequestRecord::Http);
        EXPECT_EQ(manager.recentRequests.front().peer.address, InetAddress::kLoopback);
    }
    std::string response = ask(client, "GET /json/servers.json HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << response;
    EXPECT_TRUE(response.ends_with("\r\n\r\n{\"servers\": [\n]\n}\r\n")) << response;
    // Idle for longer than the receive time-out: the server closes the connection.
    EXPECT_TRUE(closedUnanswered(client));
    EXPECT_TRUE(service.waitUntilIdle(kFiveSeconds));
}

TEST_F(HttpServiceTest, FirstRequestMayComeLateButNotTheNextOne) {
    HttpService service;
    Listener listener;
    Socket client = listener.connect(service, manager);
    // Longer than the pauses allowed later, well within the wait for the first request.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string response = ask(client, "GET /json/servers.json HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << response;
    // Quiet for longer than the pause allowed between requests.
    EXPECT_TRUE(closedUnanswered(client));
    EXPECT_TRUE(service.waitUntilIdle(kFiveSeconds));
}

TEST_F(HttpServiceTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    // A long wait for the first request keeps idle connections on their threads meanwhile.
    HttpService service(HttpLimits{.firstRequestTimeout = 10'000, .maximumConnections = 2});
    Listener listener;
    Socket first = listener.connect(service, manager);
    Socket second = listener.connect(service, manager);
    EXPECT_EQ(service.activeConnections(), 2U);
    Socket third = listener.connect(service, manager);
    EXPECT_TRUE(closedUnanswered(third));
    EXPECT_EQ(service.activeConnections(), 2U);

    // A finished connection frees its place for the next one.
    first.shutdownSend();
    EXPECT_TRUE(closedUnanswered(first));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (service.activeConnections() != 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(service.activeConnections(), 1U);
    Socket fourth = listener.connect(service, manager);
    EXPECT_TRUE(
        ask(fourth, "GET /json/servers.json HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK\r\n"));

    second.close();
    fourth.close();
    EXPECT_TRUE(service.waitUntilIdle(kFiveSeconds));
    tnw::util::Lock lock(tnw::util::globalLock());
    ASSERT_EQ(manager.recentRequests.size(), 1U); // one address, one kind
    EXPECT_EQ(manager.recentRequests.front().count, 4U);
}

TEST_F(HttpServiceTest, HeaderBlocksLongerThanTheLimitAreRefused) {
    HttpService service(HttpLimits{.firstRequestTimeout = 10'000, .maximumConnections = 4});
    Listener listener;
    std::string request = "GET /json/servers.json HTTP/1.1\r\n";
    for (int line = 1; line < 100; ++line) {
        request += "X-Line: " + std::to_string(line) + "\r\n";
    }
    Socket allowed = listener.connect(service, manager);
    EXPECT_TRUE(ask(allowed, request + "\r\n").starts_with("HTTP/1.1 200 OK\r\n"));
    Socket refused = listener.connect(service, manager);
    std::string tooMany = request + "X-Line: 100\r\n";
    refused.sendAll(tooMany.data(), tooMany.size());
    std::string response(64, '\0');
    response.resize(refused.receive(response.data(), response.size()));
    EXPECT_EQ(response, "Status-Line: HTTP/1.1 400 Bad Request\r\n\r\n");
    EXPECT_TRUE(closedUnanswered(refused));
    allowed.close();
    EXPECT_TRUE(service.waitUntilIdle(kFiveSeconds));
}

} // namespace
} // namespace plexmill::http
