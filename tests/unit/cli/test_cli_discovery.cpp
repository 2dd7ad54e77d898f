#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "service/cli/reply_texts.hpp"
#include "service/cli/server_discovery.hpp"
#include "util/socket.hpp"

namespace plexmill::cli {
namespace {

using tnw::util::InetAddress;
using tnw::util::Socket;

const std::string kAdvertise = "http://tornwell.example/namespace/tornwellpmd/advertise\nREVISION:42604\n";

// Answers every request on the discovery port with the given replies, from 127.0.0.1.
class FakeServers {
public:
    explicit FakeServers(std::vector<std::string> replies, std::chrono::milliseconds gap = std::chrono::milliseconds(0))
        : thread_([this, replies = std::move(replies), gap] {
              Socket socket;
              socket.create(false);
              socket.bind(InetAddress(InetAddress::kAny, 7388));
              socket.setReceiveTimeout(3000);
              ready_ = true;
              char buffer[1024];
              try {
                  auto request = socket.receiveFrom(buffer, sizeof buffer);
                  for (const auto& reply : replies) {
                      std::this_thread::sleep_for(gap);
                      socket.sendTo(request.sender, reply.data(), reply.size());
                  }
              } catch (...) {
              }
              done_ = true;
          }) {
        while (!ready_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~FakeServers() { thread_.join(); }

private:
    std::atomic<bool> ready_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

DiscoveryLimits fast() {
    DiscoveryLimits limits;
    limits.quiet = 400'000;
    limits.quietAfterReply = 150'000;
    limits.softEnd = 3'000'000;
    limits.hardEnd = 5'000'000;
    return limits;
}

TEST(Discovery, NoReplyEndsAtTheQuietDeadline) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(discoverServers(fast()).empty());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST(Discovery, OnlyMatchingRepliesCountAndAddressesAreUnique) {
    FakeServers servers({"garbage", "http://quorvex.example/namespace/quorvexmill/pmd/advertise\n", "\n\n" + kAdvertise,
                         kAdvertise});
    auto found = discoverServers(fast());
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0], 0x7F000001U);
}

TEST(Discovery, StopsAfterFiveMatchingReplies) {
    std::vector<std::string> six(6, kAdvertise);
    FakeServers servers(six, std::chrono::milliseconds(100));
    auto start = std::chrono::steady_clock::now();
    discoverServers(fast());
    // Five replies 100 ms apart: it ends at the fifth, before the sixth arrives.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600 + 300));
}

TEST(ReplyTexts, InfoLinesAsTheUserSeesThem) {
    EXPECT_EQ(infoLineText("DESCRIPTION", "a:b", false), "Description: a:b");
    EXPECT_EQ(infoLineText("PHYSICAL_MEMORY", "1048575", false), "Physical memory: 0Mb");
    EXPECT_EQ(infoLineText("PHYSICAL_MEMORY", "17095983104", false), "Physical memory: 16304Mb");
    EXPECT_EQ(infoLineText("PHYSICAL_MEMORY", "abc", false), std::nullopt);
    EXPECT_EQ(infoLineText("MEASURED_FREQUENCY", "2601000000", true), "Measured frequency: 2.601GHz");
    EXPECT_EQ(infoLineText("MEASURED_FREQUENCY", "2601000000", false), std::nullopt);
    EXPECT_EQ(infoLineText("OS", "LINUX", false), "Operating system: Linux");
    EXPECT_EQ(infoLineText("OS", "BEOS", false), "Operating system: Unknown");
    EXPECT_EQ(infoLineText("HTTP", "YES", false), "Accepting HTTP: Yes");
    EXPECT_EQ(infoLineText("ACCEPT_REMOTE", "yes", false), "Accepting remote: No");
    EXPECT_EQ(infoLineText("USAGE", "12", false), "Usage: 12%");
    EXPECT_EQ(infoLineText("SESSION_TIMEOUT", "1", false), std::nullopt);
}

TEST(ReplyTexts, SessionLines) {
    EXPECT_EQ(sessionLineText("PROCESSING_TIME", "63004000"), "Processing time: 01:03.004");
    EXPECT_EQ(sessionLineText("MEMORY_USAGE", "1572864"), "Memory usage: 1.5Mb");
    EXPECT_EQ(sessionLineText("MEMORY_USAGE", "0"), std::nullopt);
    EXPECT_EQ(sessionLineText("CPU_USAGE", "0.125"), "CPU usage: 12.5%");
    EXPECT_EQ(sessionLineText("CPU_USAGE", "x"), std::nullopt);
    EXPECT_EQ(sessionLineText("STATE", "WAITING"), "Status: waiting");
    EXPECT_EQ(sessionLineText("STATE", "ODD"), "Status: ODD");
    EXPECT_EQ(sessionLineText("USER", "John"), "User: John");
}

} // namespace
} // namespace plexmill::cli
