#include "util/service_interrogation.hpp"

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace tnw::util {
namespace {

constexpr char kName[] = "plexmill-test/service";

// A control channel that answers one connection with `reply` (nothing: reads the request and
// stays silent until the test ends). The request it read is kept.
class FakeService {
public:
    explicit FakeService(std::optional<std::string> reply) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, kName, sizeof kName - 1);
        auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof kName);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        thread_ = std::thread([this, reply] {
            int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            char buffer[16] = {};
            ssize_t received = ::recv(connection, buffer, sizeof buffer, 0);
            request_.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(0, received)));
            if (reply) {
                ::send(connection, reply->data(), reply->size(), MSG_NOSIGNAL);
                ::close(connection);
            } else {
                connection_ = connection;
            }
        });
    }
    ~FakeService() {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (connection_ >= 0) {
            ::close(connection_);
        }
        ::close(listener_);
    }
    // What the client sent, once the service has taken its connection.
    std::string request() {
        thread_.join();
        return request_;
    }

private:
    int listener_ = -1;
    int connection_ = -1;
    std::string request_;
    std::thread thread_;
};

TEST(ServiceInterrogation, ReadsTheReportedState) {
    struct Case {
        std::optional<std::string> reply;
        std::optional<std::uint32_t> state;
    };
    const Case cases[] = {
        {"0 7\n", 7U},
        {"0 4\n", 4U},
        {"5 1\n", 1U},
        {"0 7", std::nullopt}, // no line feed before the end
        {"zero 7\n", std::nullopt},
        {"0 7 9\n", std::nullopt},
        {"\n", std::nullopt},
        {std::nullopt, std::nullopt}, // never answers
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.reply.value_or("(silent)"));
        FakeService service(test.reply);
        EXPECT_EQ(interrogateService(kName, 200'000), test.state);
        EXPECT_EQ(service.request(), "4\n");
    }
    EXPECT_EQ(interrogateService(kName, 200'000), std::nullopt); // nobody listens
}

} // namespace
} // namespace tnw::util
