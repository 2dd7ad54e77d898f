#include "tests/support/netns.hpp"
#include "util/name_resolution.hpp"

#include <gtest/gtest.h>
#include <net/if.h>
#include <string>
#include <vector>

namespace tnw::util {
namespace {

TEST(ParseAddress, AcceptsExactlyFourDecimalNumbersBelow256) {
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t address;
    };
    const Case cases[] = {
        {"192.168.1.20", true, 0xC0A80114U},
        {"0.0.0.0", true, 0},
        {"255.255.255.255", true, 0xFFFFFFFFU},
        {"010.001.0.9", true, 0x0A010009U}, // decimal, not octal
        {"000000000000000000001.2.3.4", true, 0x01020304U},
        {"256.1.1.1", false, 0},
        {"1.1.1.256", false, 0},
        {"4294967297.1.1.1", false, 0}, // would wrap to 1 in 32 bits
        {"1.2.3", false, 0},
        {"1.2.3.4.5", false, 0},
        {"1.2.3.4.", false, 0},
        {".1.2.3.4", false, 0},
        {"1..2.3", false, 0},
        {" 1.2.3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {"+1.2.3.4", false, 0},
        {"1.2.3.-4", false, 0},
        {"1.2.3.4:80", false, 0},
        {"0x7f.0.0.1", false, 0},
        {"localhost", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<std::uint32_t> parsed = parseAddress(c.text);
        EXPECT_EQ(parsed.has_value(), c.valid);
        if (parsed) {
            EXPECT_EQ(*parsed, c.address);
        }
    }
    EXPECT_FALSE(parseAddress(std::string("1.2.3.4\0", 8)).has_value());
}

TEST(NameResolution, LocalNamesResolveThroughTheHostsFile) {
    // /etc/hosts maps localhost to 127.0.0.1; no name server is reachable from the test.
    EXPECT_EQ(resolve("localhost"), 0x7F000001U);
    EXPECT_EQ(resolve("127.0.0.1"), 0x7F000001U);
    EXPECT_EQ(resolve(""), 0U);
    EXPECT_EQ(hostName(0x7F000001U), "localhost");
    EXPECT_FALSE(localHostName().empty());
}

TEST(NameResolution, EthernetAddressesOfThisNamespaceInInterfaceOrder) {
    EXPECT_TRUE(ethernetAddresses().empty()); // only loopback, which is not Ethernet

    // Interfaces with fixed hardware addresses; the namespace goes with the test process.
    ASSERT_EQ(tnw::test::runCommand({"sh",
                                     "-c",
                                     "ip link add plxa address 02:00:00:00:00:0a type veth "
                                     "peer name plxb address 02:00:00:00:00:0b"}),
              0);
    std::vector<std::uint8_t> a = {0x02, 0, 0, 0, 0, 0x0a};
    std::vector<std::uint8_t> b = {0x02, 0, 0, 0, 0, 0x0b};
    std::vector<std::vector<std::uint8_t>> expected =
        ::if_nametoindex("plxa") < ::if_nametoindex("plxb") ? std::vector{a, b} : std::vector{b, a};
    EXPECT_EQ(ethernetAddresses(), expected);
    tnw::test::runCommand({"ip", "link", "del", "plxa"});
}

} // namespace
} // namespace tnw::util
