// The packaged firewalld service and ufw profile: compiled in byte for byte, and accepted by the
// tools themselves, which run on private copies of their configuration (a mount namespace of
// their own), so the machine's firewall settings are never touched.
#include "service/firewall/application_exception.hpp"
#include "service/firewall/firewalld_firewall.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace plexmill::firewall {
namespace {

const std::string kPackaging = std::string(PLEXMILL_SOURCE_DIR) + "/packaging/firewall/";

// Runs the shell script in a mount namespace where `etcFolder` (under /etc) is a copy.
tnw::test::RunResult inPrivateCopyOf(const std::string& etcFolder, const std::string& script) {
    return tnw::test::run({"unshare",
                           "-m",
                           "--propagation",
                           "private",
                           "sh",
                           "-c",
                           "copy=$(mktemp -d) && cp -a " + etcFolder +
                               "/. \"$copy\" && mount --bind \"$copy\" " + etcFolder + " && " +
                               script + "; status=$?; umount " + etcFolder +
                               "; rm -rf \"$copy\"; exit $status"});
}

TEST(ApplicationException, DefinitionsAreThePackagedFiles) {
    EXPECT_EQ(firewalldServiceDefinition(), tnw::test::readText(kPackaging + "quorvexpmd.xml"));
    EXPECT_EQ(ufwApplicationProfile(), tnw::test::readText(kPackaging + "quorvex-plexmill"));
    // The ports the program expects of them.
    EXPECT_NE(firewalldServiceDefinition().find(R"(<port protocol="tcp" port="7387"/>)"),
              std::string::npos);
    EXPECT_NE(firewalldServiceDefinition().find(R"(<port protocol="udp" port="7388"/>)"),
              std::string::npos);
    EXPECT_NE(ufwApplicationProfile().find("ports=7387/tcp|7388/udp\n"), std::string::npos);
    EXPECT_EQ(kApplicationPorts[0], (Port{7387, Protocol::Tcp}));
    EXPECT_EQ(kApplicationPorts[1], (Port{7388, Protocol::Udp}));
}

TEST(ApplicationException, FirewalldAcceptsTheService) {
    if (!std::filesystem::exists("/usr/bin/firewall-offline-cmd")) {
        GTEST_SKIP() << "firewalld is not installed (scripts/test installs it)";
    }
    auto result = inPrivateCopyOf("/etc/firewalld",
                                  "firewall-offline-cmd --new-service-from-file=" + kPackaging +
                                      "quorvexpmd.xml --name=quorvexpmd && firewall-offline-cmd "
                                      "--info-service=quorvexpmd");
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.output,
              "success\nquorvexpmd\n  ports: 7387/tcp 7388/udp\n  protocols: \n  source-ports: \n"
              "  modules: \n  destination: \n  includes: \n  helpers: \n");
    auto ports = parseFirewalldPorts("7387/tcp 7388/udp");
    ASSERT_EQ(ports.size(), 2U);
    EXPECT_TRUE(ports[0].covers({7387, Protocol::Tcp}));
    EXPECT_TRUE(ports[1].covers({7388, Protocol::Udp}));
}

TEST(ApplicationException, UfwAcceptsTheProfile) {
    if (!std::filesystem::exists("/usr/sbin/ufw")) {
        GTEST_SKIP() << "ufw is not installed (scripts/test installs it)";
    }
    auto result = inPrivateCopyOf("/etc/ufw",
                                  "cp " + kPackaging +
                                      "quorvex-plexmill /etc/ufw/applications.d/ && ufw app info "
                                      "'Quorvex Plexmill'");
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.output,
              "Profile: Quorvex Plexmill\n"
              "Title: Quorvex Plexmill\n"
              "Description: Hands CAM toolpath computations to other machines on the local\n"
              "network: TCP sessions on port 7387, UDP discovery datagrams on port 7388.\n"
              "\n"
              "Ports:\n"
              "  7387/tcp\n"
              "  7388/udp\n");
}

} // namespace
} // namespace plexmill::firewall
