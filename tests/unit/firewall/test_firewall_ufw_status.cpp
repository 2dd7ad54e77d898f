#include "service/firewall/ufw_status.hpp"

#include <gtest/gtest.h>

namespace plexmill::firewall {
namespace {

// What ufw 0.36 printed for these rules (ufw allow "Quorvex Plexmill", 8000/tcp with a
// comment, 9000, 7000:7100/udp, 22/tcp from 10.0.0.0/8).
const char kVerbose[] =
    "Status: active\n"
    "Logging: on (low)\n"
    "Default: deny (incoming), allow (outgoing), disabled (routed)\n"
    "New profiles: skip\n"
    "\n"
    "To                         Action      From\n"
    "--                         ------      ----\n"
    "7387/tcp (Quorvex Plexmill) ALLOW IN    Anywhere                  \n"
    "7388/udp (Quorvex Plexmill) ALLOW IN    Anywhere                  \n"
    "8000/tcp                   ALLOW IN    Anywhere                   # Quorvex Plexmill Session\n"
    "9000                       ALLOW IN    Anywhere                  \n"
    "7000:7100/udp              ALLOW IN    Anywhere                  \n"
    "22/tcp                     ALLOW IN    10.0.0.0/8                \n"
    "53                         DENY IN     Anywhere                  \n"
    "80 on eth0                 ALLOW IN    Anywhere                  \n"
    "7387/tcp (Quorvex Plexmill (v6)) ALLOW IN    Anywhere (v6)             \n"
    "8000/tcp (v6)              ALLOW IN    Anywhere (v6)              # Quorvex Plexmill Session\n"
    "\n";

TEST(UfwStatus, ReadsRulesOfEveryShape) {
    UfwStatus status = parseUfwStatus(kVerbose);
    EXPECT_TRUE(status.active);
    EXPECT_FALSE(status.incomingAllowed);
    ASSERT_EQ(status.rules.size(), 10U);
    EXPECT_EQ(status.rules[0].application, "Quorvex Plexmill");
    EXPECT_EQ(status.rules[0].action, "ALLOW IN");
    EXPECT_TRUE(status.rules[0].fromAnywhere);
    EXPECT_EQ(status.rules[2].comment, "Quorvex Plexmill Session");
    EXPECT_EQ(status.rules[2].application, "");
    EXPECT_EQ(status.rules[8].application, "Quorvex Plexmill");
    EXPECT_TRUE(status.rules[8].fromAnywhere);
    EXPECT_TRUE(status.rules[7].restricted);

    const struct {
        Port port;
        bool open;
    } cases[] = {
        {{7387, Protocol::Tcp}, true},
        {{7387, Protocol::Udp}, false},
        {{8000, Protocol::Tcp}, true},
        {{9000, Protocol::Udp}, true},
        {{9000, Protocol::Tcp}, true},
        {{7050, Protocol::Udp}, true},
        {{7101, Protocol::Udp}, false},
        {{22, Protocol::Tcp}, false},
        {{53, Protocol::Udp}, false},
        {{80, Protocol::Tcp}, false},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(std::to_string(item.port.number) + protocolWord(item.port.protocol));
        EXPECT_EQ(status.lets(item.port), item.open);
    }
    EXPECT_TRUE(
        status.letsApplication("Quorvex Plexmill", {{7387, Protocol::Tcp}, {7388, Protocol::Udp}}));
    EXPECT_FALSE(status.letsApplication("Quorvex Plexmill", {{7389, Protocol::Tcp}}));
    EXPECT_FALSE(status.letsApplication("Other", {{7387, Protocol::Tcp}}));
}

TEST(UfwStatus, InactiveOrOpenByDefault) {
    EXPECT_FALSE(parseUfwStatus("Status: inactive\n").active);
    EXPECT_FALSE(parseUfwStatus("").active);
    UfwStatus open =
        parseUfwStatus("Status: active\nDefault: allow (incoming), allow (outgoing)\n");
    EXPECT_TRUE(open.active);
    EXPECT_TRUE(open.lets({1, Protocol::Udp}));
}

} // namespace
} // namespace plexmill::firewall
