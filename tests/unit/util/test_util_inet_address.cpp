#include "util/inet_address.hpp"

#include <gtest/gtest.h>
#include <string>

namespace tnw::util {
namespace {

TEST(InetAddress, TextsPutTheMostSignificantByteFirst) {
    struct Case {
        std::uint32_t address;
        std::uint16_t port;
        const char* address_text;
        const char* text;
    };
    const Case cases[] = {
        {0xC0A80114U, 8080, "192.168.1.20", "192.168.1.20:8080"},
        {0x00000000U, 0, "0.0.0.0", "0.0.0.0:0"},
        {0xFFFFFFFFU, 65535, "255.255.255.255", "255.255.255.255:65535"},
        {0x7F000001U, 7387, "127.0.0.1", "127.0.0.1:7387"},
        {0x0A00FF05U, 51234, "10.0.255.5", "10.0.255.5:51234"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        InetAddress address(c.address, c.port);
        EXPECT_EQ(address.addressText(), c.address_text);
        EXPECT_EQ(address.toText(), c.text);
        EXPECT_EQ(addressText(c.address), c.address_text);
    }
}

TEST(InetAddress, ZeroMeansNoAddressAndValuesCompareByAddressThenPort) {
    EXPECT_TRUE(InetAddress().isZero());
    EXPECT_FALSE(InetAddress(0, 1).isZero());
    EXPECT_FALSE(InetAddress(1, 0).isZero());
    EXPECT_EQ(InetAddress(0x7F000001U, 80), InetAddress(InetAddress::kLoopback, 80));
    EXPECT_NE(InetAddress(0x7F000001U, 80), InetAddress(0x7F000001U, 81));
    EXPECT_LT(InetAddress(1, 65535), InetAddress(2, 0));
}

} // namespace
} // namespace tnw::util
