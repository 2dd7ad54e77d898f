#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <mutex>
#include <thread>

#include "tests/support/netns.hpp"

namespace tnw::test {
namespace {

constexpr std::uint16_t kPort = 47388;
const std::string kMarker = "plexmill-netns-harness-probe";

int udpSocket() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

sockaddr_in endpoint(const char* address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &result.sin_addr);
    return result;
}

TEST(NetworkNamespace, TestProcessIsIsolated) {
    EXPECT_FALSE(inRootNetworkNamespace());
    EXPECT_NO_THROW(requirePrivateNetworkNamespace());
}

TEST(NetworkNamespace, OneHostBroadcastStaysOnLoopback) {
    int receiver = udpSocket();
    auto any = endpoint("0.0.0.0", kPort);
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    int sender = udpSocket();
    auto broadcast = endpoint("255.255.255.255", kPort);
    ASSERT_EQ(::sendto(sender, kMarker.data(), kMarker.size(), 0,
                       reinterpret_cast<sockaddr*>(&broadcast), sizeof broadcast),
              static_cast<ssize_t>(kMarker.size()));
    timeval wait{2, 0};
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[256] = {};
    ssize_t got = ::recv(receiver, buffer, sizeof buffer, 0);
    EXPECT_EQ(std::string(buffer, got > 0 ? got : 0), kMarker);
    ::close(sender);
    ::close(receiver);
}

// Two hosts of a virtual LAN exchange a broadcast datagram while a packet socket on the
// machine's own eth0 watches for it: it must never get there.
TEST(NetworkNamespace, LanBroadcastNeverLeavesTheVirtualNetwork) {
    std::atomic<bool> watching{true};
    std::atomic<int> leaked{0};
    std::atomic<bool> watcherReady{false};
    std::thread watcher([&] {
        runInNamespace(machineNamespacePath(), [&] {
            int packets = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
            ASSERT_GE(packets, 0);
            sockaddr_ll device{};
            device.sll_family = AF_PACKET;
            device.sll_protocol = htons(ETH_P_ALL);
            device.sll_ifindex = static_cast<int>(::if_nametoindex("eth0"));
            if (device.sll_ifindex != 0) {
                ::bind(packets, reinterpret_cast<sockaddr*>(&device), sizeof device);
            }
            timeval tick{0, 100000};
            ::setsockopt(packets, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
            watcherReady = true;
            char frame[65536];
            while (watching) {
                ssize_t size = ::recv(packets, frame, sizeof frame, 0);
                if (size > 0 && std::string(frame, size).find(kMarker) != std::string::npos) {
                    ++leaked;
                }
            }
            ::close(packets);
        });
    });
    while (!watcherReady) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    VirtualLan lan(2);
    std::mutex receivedMutex;
    std::string received;
    auto heard = [&] {
        std::lock_guard lock(receivedMutex);
        return !received.empty();
    };
    std::thread listener([&] {
        runInNamespace(lan.hostNamespace(2), [&] {
            int receiver = udpSocket();
            auto any = endpoint("0.0.0.0", kPort);
            ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
            timeval wait{5, 0};
            ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char buffer[256] = {};
            sockaddr_in from{};
            socklen_t fromSize = sizeof from;
            ssize_t got = ::recvfrom(receiver, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (got > 0) {
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
                std::lock_guard lock(receivedMutex);
                received = std::string(buffer, got) + " from " + text;
            }
            ::close(receiver);
        });
    });
    // Give the listener time to bind; repeat the datagram until it is heard.
    for (int attempt = 0; attempt < 20 && !heard(); ++attempt) {
        runInNamespace(lan.hostNamespace(1), [&] {
            int sender = udpSocket();
            auto broadcast = endpoint("255.255.255.255", kPort);
            ::sendto(sender, kMarker.data(), kMarker.size(), 0,
                     reinterpret_cast<sockaddr*>(&broadcast), sizeof broadcast);
            ::close(sender);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    listener.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    watching = false;
    watcher.join();

    EXPECT_EQ(received, kMarker + " from " + lan.address(1));
    EXPECT_EQ(leaked.load(), 0);
}

} // namespace
} // namespace tnw::test
