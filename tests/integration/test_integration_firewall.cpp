// --checkfirewall and --configfirewall against real firewalls in namespaces of the test's own:
// nftables and ufw on host 1 of a virtual LAN, with host 2 trying to reach the session and
// discovery ports, and firewalld through a stand-in for firewall-cmd.
//
//      h1 (10.77.0.1): the firewall, plexmilld, listeners on the ports
//      h2 (10.77.0.2): a client that connects and sends datagrams
#include "tests/support/child_process.hpp"
#include "tests/support/netns.hpp"
#include "tests/support/temp_folder.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tnw::test {
namespace {

const std::string kInstalled = "Windows Firewall is installed.\n";
const std::string kEnabled = "Windows Firewall is enabled.\n";
const std::string kFailed = "Failed to enable Quorvex Plexmill service in Windows Firewall.\n";

// A drop-policy input chain, with the lines an administrator typically has.
const std::string kDroppingRuleset = R"(table inet filter {
  chain input {
    type filter hook input priority 0; policy drop;
    ct state established,related accept
    iif lo accept
    tcp dport 22 accept
  }
}
)";

bool hasTool(const std::string& path) {
    return std::filesystem::exists(path);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string programLine() {
    return "Quorvex Plexmill '" + std::string(PLEXMILLD_PATH) +
           "' is not enabled in Windows Firewall.\n";
}

// Host 1 with its firewall tools: the real nft, a firewall-cmd stand-in whose firewalld is
// stopped unless a test says otherwise, and ufw as the test chooses.
class FirewallHost {
public:
    explicit FirewallHost(bool realUfw = false) : realUfw_(realUfw) {
        std::filesystem::create_directories(folder_ / "bin");
        std::filesystem::create_directories(folder_ / "etc");
        std::filesystem::create_symlink(std::string(PLEXMILL_SOURCE_DIR) +
                                            "/tests/support/firewall/firewall-cmd",
                                        folder_ / "bin" / "firewall-cmd");
        writeFile(folder_ / "firewalld.json", R"({"running": false})");
        if (!realUfw) {
            writeFile(folder_ / "bin" / "ufw", "#!/bin/sh\necho 'Status: inactive'\n");
            std::filesystem::permissions(folder_ / "bin" / "ufw", std::filesystem::perms(0755));
        }
        // The administrator's boot configuration, as Debian ships it plus the chain.
        writeFile(configuration(), "#!/usr/sbin/nft -f\n\nflush ruleset\n\n" + kDroppingRuleset);
        writeFile(folder_ / "firewalld.log", "");
        // Readable by the unprivileged user some tests run plexmilld as.
        for (const auto& path : {folder_.path(), folder_ / "bin", folder_ / "etc"}) {
            std::filesystem::permissions(path, std::filesystem::perms(0755));
        }
    }

    const TempFolder& folder() const { return folder_; }
    std::filesystem::path configuration() const { return folder_ / "etc" / "nftables.conf"; }
    std::filesystem::path rulesFile() const {
        return folder_ / "etc" / "nftables.d" / "quorvex-plexmill.nft";
    }

    std::map<std::string, std::string> environment() const {
        return {{"PATH", (folder_ / "bin").string() + ":/usr/sbin:/usr/bin:/bin"},
                {"FAKE_FIREWALLD_STATE", (folder_ / "firewalld.json").string()},
                {"FAKE_FIREWALLD_LOG", (folder_ / "firewalld.log").string()},
                {"PLEXMILL_NFTABLES_CONF", configuration().string()}};
    }

    // argv run on host 1; with the real ufw, in a mount namespace where /etc/ufw is the copy.
    std::vector<std::string> onHost(std::vector<std::string> argv) const {
        std::vector<std::string> full = lan_.execPrefix(1);
        if (realUfw_) {
            std::vector<std::string> wrap = {"unshare",
                                             "-m",
                                             "--propagation",
                                             "private",
                                             "sh",
                                             "-c",
                                             "mount --bind \"$0\" /etc/ufw && exec \"$@\"",
                                             (folder_ / "ufw").string()};
            full.insert(full.end(), wrap.begin(), wrap.end());
        }
        full.insert(full.end(), argv.begin(), argv.end());
        return full;
    }

    RunResult plexmilld(std::vector<std::string> arguments, bool asNobody = false) const {
        std::vector<std::string> argv = {PLEXMILLD_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        if (asNobody) {
            argv.insert(argv.begin(),
                        {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
        }
        return run(onHost(argv), environment());
    }

    RunResult command(std::vector<std::string> argv) const {
        return run(onHost(std::move(argv)), environment());
    }

    void loadRuleset(const std::string& text) const {
        writeFile(folder_ / "ruleset.nft", text);
        ASSERT_EQ(command({"nft", "-f", (folder_ / "ruleset.nft").string()}).exitCode, 0);
    }
    std::string ruleset() const { return command({"nft", "list", "ruleset"}).output; }

    // Whether a TCP connection and a datagram from host 2 reach listeners on host 1.
    bool tcpReaches(int port) const {
        ChildProcess listener(
            onHost({"python3",
                    "-u",
                    "-c",
                    "import socket,sys\n"
                    "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                    "s.bind(('0.0.0.0', int(sys.argv[1]))); s.listen(); print('ready')\n"
                    "s.accept(); print('accepted')\n",
                    std::to_string(port)}));
        EXPECT_TRUE(listener.waitForOutput("ready"));
        RunResult client =
            run(peer({"python3",
                      "-c",
                      "import socket,sys\n"
                      "socket.create_connection(('10.77.0.1', int(sys.argv[1])), timeout=1.5)\n",
                      std::to_string(port)}));
        return client.exitCode == 0 && listener.waitForOutput("accepted");
    }
    bool datagramReaches(int port) const {
        ChildProcess listener(onHost({"python3",
                                      "-u",
                                      "-c",
                                      "import socket,sys\n"
                                      "s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                                      "s.bind(('0.0.0.0', int(sys.argv[1]))); print('ready')\n"
                                      "print(s.recv(100).decode())\n",
                                      std::to_string(port)}));
        EXPECT_TRUE(listener.waitForOutput("ready"));
        run(peer({"python3",
                  "-c",
                  "import socket,sys\n"
                  "socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'probe-datagram', "
                  "('10.77.0.1', int(sys.argv[1])))\n",
                  std::to_string(port)}));
        // A dropped datagram leaves nothing to wait for: allow it the time a LAN would take.
        return listener.waitForOutput("probe-datagram", 1500ms);
    }

private:
    std::vector<std::string> peer(std::vector<std::string> argv) const {
        std::vector<std::string> full = lan_.execPrefix(2);
        full.insert(full.end(), argv.begin(), argv.end());
        return full;
    }

    bool realUfw_;
    VirtualLan lan_{2};
    TempFolder folder_{"plexmill-firewall"};
};

TEST(Firewall, NftablesConfigurationLetsSessionsAndDiscoveryIn) {
    if (!hasTool("/usr/sbin/nft")) {
        GTEST_SKIP() << "nft is not installed (scripts/test installs it)";
    }
    FirewallHost host;
    host.loadRuleset(kDroppingRuleset);
    EXPECT_FALSE(host.tcpReaches(7387));
    EXPECT_FALSE(host.datagramReaches(7388));

    RunResult before = host.plexmilld({"--checkfirewall"});
    EXPECT_EQ(before.exitCode, 0);
    EXPECT_EQ(before.output,
              kInstalled + kEnabled + programLine() +
                  "The port 7387 TCP is not enabled.\nThe port 7388 UDP is not enabled.\n");

    RunResult configured = host.plexmilld({"--configfirewall"});
    EXPECT_EQ(configured.exitCode, 0);
    EXPECT_EQ(configured.output + configured.errors, "");
    EXPECT_TRUE(host.tcpReaches(7387));
    EXPECT_TRUE(host.datagramReaches(7388));
    // Before the chain's end, with the product's name, and nothing of the administrator's lost.
    EXPECT_EQ(host.ruleset(),
              "table inet filter {\n"
              "\tchain input {\n"
              "\t\ttype filter hook input priority filter; policy drop;\n"
              "\t\tct state established,related accept\n"
              "\t\tiif \"lo\" accept\n"
              "\t\ttcp dport 22 accept\n"
              "\t\ttcp dport 7387 accept comment \"Quorvex Plexmill\"\n"
              "\t\tudp dport 7388 accept comment \"Quorvex Plexmill\"\n"
              "\t}\n"
              "}\n");
    RunResult after = host.plexmilld({"--checkfirewall"});
    EXPECT_EQ(after.output, kInstalled + kEnabled);

    // Kept for the next boot: the administrator's file gains one include, and loading it from
    // scratch gives the same ruleset.
    EXPECT_EQ(readText(host.configuration()),
              "#!/usr/sbin/nft -f\n\nflush ruleset\n\n" + kDroppingRuleset +
                  "\n# Quorvex Plexmill's own rules (plexmilld --configfirewall).\ninclude \"" +
                  (host.folder() / "etc" / "nftables.d").string() + "/quorvex-plexmill*.nft\"\n");
    ASSERT_EQ(host.command({"nft", "-f", host.configuration().string()}).exitCode, 0);
    EXPECT_EQ(host.ruleset(),
              "table inet filter {\n"
              "\tchain input {\n"
              "\t\ttype filter hook input priority filter; policy drop;\n"
              "\t\tudp dport 7388 accept comment \"Quorvex Plexmill\"\n"
              "\t\ttcp dport 7387 accept comment \"Quorvex Plexmill\"\n"
              "\t\tct state established,related accept\n"
              "\t\tiif \"lo\" accept\n"
              "\t\ttcp dport 22 accept\n"
              "\t}\n"
              "}\n");
}

TEST(Firewall, NftablesSecondConfigurationAddsNothing) {
    if (!hasTool("/usr/sbin/nft")) {
        GTEST_SKIP() << "nft is not installed (scripts/test installs it)";
    }
    FirewallHost host;
    host.loadRuleset(kDroppingRuleset +
                     "table inet filter {\n  chain input {\n    counter drop\n  }\n}\n");
    ASSERT_EQ(host.plexmilld({"--configfirewall"}).output, "");
    std::string once = host.ruleset();
    std::string rules = readText(host.rulesFile());
    std::string configuration = readText(host.configuration());
    RunResult again = host.plexmilld({"--configfirewall"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.output + again.errors, "");
    EXPECT_EQ(host.ruleset(), once);
    EXPECT_EQ(readText(host.rulesFile()), rules);
    EXPECT_EQ(readText(host.configuration()), configuration);
    // The final drop rule stays last.
    EXPECT_NE(once.find("udp dport 7388 accept comment \"Quorvex Plexmill\"\n\t\tcounter packets"),
              std::string::npos)
        << once;
}

TEST(Firewall, NftablesPortOptionOpensThatPort) {
    if (!hasTool("/usr/sbin/nft")) {
        GTEST_SKIP() << "nft is not installed (scripts/test installs it)";
    }
    FirewallHost host;
    host.loadRuleset(kDroppingRuleset);
    EXPECT_FALSE(host.tcpReaches(8000));
    EXPECT_EQ(host.plexmilld({"--checkfirewall", "--port", "8000", "--broadcast", "8001"}).output,
              kInstalled + kEnabled + programLine() +
                  "The port 8000 TCP is not enabled.\nThe port 8001 UDP is not enabled.\n");
    RunResult configured =
        host.plexmilld({"--port", "8000", "--configfirewall", "--broadcast", "8001"});
    EXPECT_EQ(configured.output + configured.errors, "");
    EXPECT_TRUE(host.tcpReaches(8000));
    EXPECT_TRUE(host.datagramReaches(8001));
    std::string ruleset = host.ruleset();
    EXPECT_NE(ruleset.find("tcp dport 8000 accept comment \"Quorvex Plexmill Session\""),
              std::string::npos);
    EXPECT_NE(ruleset.find("udp dport 8001 accept comment \"Quorvex Plexmill Advertise\""),
              std::string::npos);
    EXPECT_EQ(host.plexmilld({"--checkfirewall", "--port", "8000", "--broadcast", "8001"}).output,
              kInstalled + kEnabled);
    // The default ports are the application's own and stay open.
    EXPECT_EQ(host.plexmilld({"--checkfirewall"}).output, kInstalled + kEnabled);
}

TEST(Firewall, NftablesWithoutDroppingChainIsDisabled) {
    if (!hasTool("/usr/sbin/nft")) {
        GTEST_SKIP() << "nft is not installed (scripts/test installs it)";
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no ruleset", ""},
        {"accepting input chain",
         "table ip filter {\n  chain input {\n    type filter hook input priority 0; policy "
         "accept;\n"
         "    tcp dport 22 accept\n  }\n}\n"},
        {"dropping chain hooked at output only",
         "table ip filter {\n  chain output {\n    type filter hook output priority 0; policy "
         "drop;\n  }\n}\n"},
    };
    for (const auto& [name, ruleset] : cases) {
        SCOPED_TRACE(name);
        FirewallHost host;
        if (!ruleset.empty()) {
            host.loadRuleset(ruleset);
        }
        std::string before = host.ruleset();
        RunResult check = host.plexmilld({"--checkfirewall"});
        EXPECT_EQ(check.exitCode, 0);
        EXPECT_EQ(check.output, kInstalled + "Windows Firewall is disabled.\n");
        RunResult configured = host.plexmilld({"--configfirewall"});
        EXPECT_EQ(configured.exitCode, 0);
        EXPECT_EQ(configured.output + configured.errors, "");
        EXPECT_EQ(host.ruleset(), before);
        EXPECT_FALSE(std::filesystem::exists(host.rulesFile()));
    }
}

TEST(Firewall, WithoutRootNothingChanges) {
    if (!hasTool("/usr/sbin/nft") || !hasTool("/usr/bin/setpriv")) {
        GTEST_SKIP() << "nft or setpriv is not installed";
    }
    FirewallHost host;
    host.loadRuleset(kDroppingRuleset);
    std::string before = host.ruleset();
    std::string configuration = readText(host.configuration());
    const std::string rights = "The current 'nobody' may not have the required permissions. Please "
                               "login as an administrator.\n";

    RunResult configured = host.plexmilld({"--configfirewall"}, true);
    EXPECT_EQ(configured.exitCode, 0);
    EXPECT_EQ(configured.output, "");
    EXPECT_EQ(configured.errors, kFailed + rights);
    EXPECT_EQ(host.ruleset(), before);
    EXPECT_EQ(readText(host.configuration()), configuration);
    EXPECT_FALSE(std::filesystem::exists(host.rulesFile()));

    // An ordinary user cannot read the rules either: the check says so instead of guessing.
    RunResult check = host.plexmilld({"--checkfirewall"}, true);
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.output, kInstalled);
    EXPECT_EQ(check.errors, rights);
}

TEST(Firewall, NoFirewallToolsMeansNotInstalled) {
    FirewallHost host;
    auto environment = host.environment();
    std::filesystem::create_directories(host.folder() / "sbin");
    // A PATH naming an sbin folder is searched alone, so none of the tools is found.
    environment["PATH"] = (host.folder() / "sbin").string();
    RunResult check = run({PLEXMILLD_PATH, "--checkfirewall"}, environment);
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.output, "Windows Firewall is not installed.\n");
    RunResult configured = run({PLEXMILLD_PATH, "--configfirewall"}, environment);
    EXPECT_EQ(configured.exitCode, 0);
    EXPECT_EQ(configured.output, "");
    EXPECT_EQ(configured.errors, kFailed);
}

TEST(Firewall, UfwConfigurationAllowsTheProfileAndPorts) {
    if (!hasTool("/usr/sbin/ufw") || !hasTool("/usr/sbin/nft")) {
        GTEST_SKIP() << "ufw is not installed (scripts/test installs it)";
    }
    FirewallHost host(true);
    // ufw on host 1 works on a copy of /etc/ufw; its kernel settings stay as they are.
    ASSERT_EQ(runCommand({"cp", "-a", "/etc/ufw", (host.folder() / "ufw").string()}), 0);
    writeFile(host.folder() / "ufw" / "sysctl.conf", "");
    ASSERT_EQ(host.command({"ufw", "--force", "enable"}).exitCode, 0);
    EXPECT_FALSE(host.tcpReaches(7387));

    EXPECT_EQ(host.plexmilld({"--checkfirewall", "--port", "8000"}).output,
              kInstalled + kEnabled + programLine() +
                  "The port 8000 TCP is not enabled.\nThe port 7388 UDP is not enabled.\n");
    RunResult configured = host.plexmilld({"--configfirewall", "--port", "8000"});
    EXPECT_EQ(configured.output + configured.errors, "");
    EXPECT_TRUE(host.tcpReaches(7387));
    EXPECT_TRUE(host.tcpReaches(8000));
    EXPECT_TRUE(host.datagramReaches(7388));
    EXPECT_EQ(readText(host.folder() / "ufw" / "applications.d" / "quorvex-plexmill"),
              readText(std::string(PLEXMILL_SOURCE_DIR) + "/packaging/firewall/quorvex-plexmill"));
    RunResult status = host.command({"ufw", "status"});
    EXPECT_NE(status.output.find("Quorvex Plexmill           ALLOW       Anywhere"),
              std::string::npos)
        << status.output;
    EXPECT_NE(status.output.find("8000/tcp                   ALLOW       Anywhere                  "
                                 " # Quorvex Plexmill Session"),
              std::string::npos)
        << status.output;
    EXPECT_EQ(host.plexmilld({"--checkfirewall", "--port", "8000"}).output, kInstalled + kEnabled);

    std::string rules = host.command({"ufw", "show", "added"}).output;
    RunResult again = host.plexmilld({"--configfirewall", "--port", "8000"});
    EXPECT_EQ(again.output + again.errors, "");
    EXPECT_EQ(host.command({"ufw", "show", "added"}).output, rules);
}

// The firewalld stand-in's state: the running configuration and the permanent one.
std::string firewalldState(bool runtimeKnowsService) {
    std::string runtimeServices =
        R"({"ssh": ["22/tcp"])" +
        std::string(runtimeKnowsService ? R"(, "quorvexpmd": ["7387/tcp", "7388/udp"]})" : "}");
    return R"({"running": true, "zone": "home",
      "runtime": {"services": )" +
           runtimeServices +
           R"(, "zones": {"home": {"services": ["ssh"], "ports": ["9000-9100/udp"]}}},
      "permanent": {"services": {"ssh": ["22/tcp"]}, "zones": {"home": {"services": ["ssh"], "ports": ["9000-9100/udp"]}}}})";
}

TEST(Firewall, FirewalldGetsTheServiceInItsDefaultZone) {
    for (bool runtimeKnowsService : {true, false}) {
        SCOPED_TRACE(runtimeKnowsService ? "running firewalld knows the service"
                                         : "running firewalld has not reloaded");
        FirewallHost host;
        writeFile(host.folder() / "firewalld.json", firewalldState(runtimeKnowsService));
        EXPECT_EQ(host.plexmilld({"--checkfirewall", "--broadcast", "9050"}).output,
                  kInstalled + kEnabled + programLine() + "The port 7387 TCP is not enabled.\n");
        RunResult configured = host.plexmilld({"--configfirewall", "--broadcast", "9050"});
        EXPECT_EQ(configured.output + configured.errors, "");
        EXPECT_EQ(host.plexmilld({"--checkfirewall", "--broadcast", "9050"}).output,
                  kInstalled + kEnabled);
        RunResult second =
            host.plexmilld({"--configfirewall", "--broadcast", "9050", "--port", "8000"});
        EXPECT_EQ(second.output + second.errors, "");

        std::string state = readText(host.folder() / "firewalld.json");
        // The definition firewalld was given is the packaged one.
        EXPECT_NE(state.find(R"("quorvexpmd": ["7387/tcp", "7388/udp"])"), std::string::npos)
            << state;
        std::string log = readText(host.folder() / "firewalld.log");
        EXPECT_NE(log.find("--permanent --zone=home --add-service=quorvexpmd\n"), std::string::npos)
            << log;
        EXPECT_NE(log.find("--permanent --zone=home --add-port=8000/tcp\n"), std::string::npos)
            << log;
        EXPECT_NE(log.find("\n--zone=home --add-port=8000/tcp\n"), std::string::npos) << log;
        if (runtimeKnowsService) {
            EXPECT_NE(log.find("\n--zone=home --add-service=quorvexpmd\n"), std::string::npos)
                << log;
        } else {
            EXPECT_NE(log.find("\n--zone=home --add-port=7387/tcp\n"), std::string::npos) << log;
            EXPECT_NE(log.find("\n--zone=home --add-port=7388/udp\n"), std::string::npos) << log;
        }
        // A reload would throw away what the administrator changed in the running firewall.
        EXPECT_EQ(log.find("--reload"), std::string::npos) << log;
        // The second run only added the new port.
        EXPECT_EQ(occurrences(log, "--add-service=quorvexpmd"), runtimeKnowsService ? 2U : 1U)
            << log;
        EXPECT_EQ(occurrences(log, "--new-service-from-file="), 1U) << log;
    }
}

TEST(Firewall, FirewalldRefusalWithoutRootIsReported) {
    if (!hasTool("/usr/bin/setpriv")) {
        GTEST_SKIP() << "setpriv is not installed";
    }
    FirewallHost host;
    writeFile(host.folder() / "firewalld.json", firewalldState(true));
    std::filesystem::permissions(host.folder() / "firewalld.json", std::filesystem::perms(0666));
    std::filesystem::permissions(host.folder() / "firewalld.log", std::filesystem::perms(0666));
    std::string before = readText(host.folder() / "firewalld.json");
    RunResult configured = host.plexmilld({"--configfirewall"}, true);
    EXPECT_EQ(configured.exitCode, 0);
    EXPECT_EQ(configured.errors,
              kFailed + "The current 'nobody' may not have the required permissions. Please login "
                        "as an administrator.\n");
    EXPECT_EQ(readText(host.folder() / "firewalld.json"), before);
}

} // namespace
} // namespace tnw::test
