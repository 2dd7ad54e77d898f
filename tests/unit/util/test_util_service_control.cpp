#include "util/abstract_socket_address.hpp"
#include "util/service_control.hpp"
#include "util/sync.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tnw::util {
namespace {

std::string uniqueName(const char* test) {
    return std::string("plexmill-test-control-") + test + "-" + std::to_string(::getpid());
}

// Serves connections on a thread until stopped, answering with `answer`.
class Service {
public:
    Service(const std::string& name, ServiceControlListener::Answer answer)
        : listener_(ServiceControlListener::open(name)), answer_(std::move(answer)) {
        quit_.create();
        thread_ = std::thread([this] {
            const Handle handles[] = {quit_.handle(), listener_.handle()};
            while (waitForAny(handles, 2, false, kInfinite) == 2) {
                listener_.serveOne(answer_, 1'000'000);
            }
        });
    }
    ~Service() {
        quit_.set();
        thread_.join();
    }
    bool isValid() const { return listener_.isValid(); }

private:
    ServiceControlListener listener_;
    ServiceControlListener::Answer answer_;
    Event quit_;
    std::thread thread_;
};

// Sends raw bytes and returns the reply line, to see what the service makes of them.
std::string rawExchange(const std::string& name, const std::string& request) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    socklen_t size = abstractSocketAddress(name, address);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0) {
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char buffer[64];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            reply.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

TEST(ServiceControl, ControlReachesTheServiceWithTheSendersCredentials) {
    std::string name = uniqueName("roundtrip");
    std::atomic<std::uint32_t> received{0};
    ServiceControlPeer sender;
    Service service(name, [&](std::uint32_t control, const ServiceControlPeer& peer) {
        received = control;
        sender = peer;
        return ServiceControlReply{0, ServiceState::Paused};
    });
    ASSERT_TRUE(service.isValid());
    EXPECT_FALSE(ServiceControlListener::open(name).isValid()); // the name is taken

    auto result = sendServiceControl(name, service_control::kPause, 5'000'000);
    EXPECT_EQ(result.outcome, ServiceControlOutcome::Answered);
    EXPECT_EQ(result.reply.error, 0U);
    EXPECT_EQ(result.reply.state, ServiceState::Paused);
    EXPECT_EQ(result.serviceProcessId, static_cast<std::uint64_t>(::getpid()));
    EXPECT_EQ(received.load(), 2U);
    EXPECT_EQ(sender.userId, ::geteuid());
    EXPECT_EQ(sender.processId, static_cast<std::uint64_t>(::getpid()));
    EXPECT_TRUE(sender.privileged);
}

TEST(ServiceControl, RequestsThatAreNotANumberGetInvalidParameter) {
    std::string name = uniqueName("bad");
    std::atomic<int> calls{0};
    Service service(name, [&](std::uint32_t control, const ServiceControlPeer&) {
        calls += control == service_control::kInterrogate ? 1 : 100;
        return ServiceControlReply{0, ServiceState::Running};
    });
    struct Case {
        std::string request;
        std::string reply;
    };
    for (const Case& bad : {Case{"x\n", "87 4\n"},
                            Case{"-1\n", "87 4\n"},
                            Case{"4294967296\n", "87 4\n"},
                            Case{"1 2\n", "87 4\n"},
                            Case{"\n", "87 4\n"},
                            Case{"12345678901234567890123456789012345\n", "87 4\n"},
                            Case{"1\nmore", "87 4\n"},
                            Case{"", "87 4\n"},
                            Case{"4\n", "0 4\n"}}) {
        SCOPED_TRACE(bad.request);
        EXPECT_EQ(rawExchange(name, bad.request), bad.reply);
    }
    // A malformed request is answered with the state alone; nothing else reaches the service.
    EXPECT_EQ(calls.load(), 9);
}

TEST(ServiceControl, NobodyListeningMeansNotRunning) {
    auto result = sendServiceControl(uniqueName("none"), service_control::kInterrogate, 1'000'000);
    EXPECT_EQ(result.outcome, ServiceControlOutcome::NotListening);
}

TEST(ServiceControl, AnUnreadableOrMissingReplyIsAFailure) {
    std::string name = uniqueName("silent");
    // Takes the connection and never answers.
    Handle silent = ServiceControlListener::open(name).handle();
    ASSERT_TRUE(silent.isValid());
    auto result = sendServiceControl(name, service_control::kInterrogate, 200'000);
    EXPECT_EQ(result.outcome, ServiceControlOutcome::Failed);
}

} // namespace
} // namespace tnw::util
