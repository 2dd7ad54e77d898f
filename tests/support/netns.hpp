// Private network namespaces for tests: nothing a test sends may reach the machine's own
// network. A one-host namespace has loopback up and a route that keeps 255.255.255.255 on lo;
// a VirtualLan is N host namespaces joined by veth pairs to a bridge in its own namespace.
//
//      h1 (10.77.0.1) ---veth---+
//      h2 (10.77.0.2) ---veth---+--- br0 (namespace <prefix>-br)
//      hN (10.77.0.N) ---veth---+
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tnw::test {

// Path of the machine's own network namespace (for watching it, never for using it).
std::string machineNamespacePath();

// True when the calling thread is in the network namespace of PID 1 (the machine's own).
bool inRootNetworkNamespace();

// Moves the calling process (all future threads and children) into a fresh network namespace
// with loopback up and broadcasts routed to lo. Throws std::runtime_error on failure.
void enterPrivateNetworkNamespace();

// Throws unless the calling thread is outside the machine's own network namespace. Every
// helper that starts a server or sends a datagram calls it first.
void requirePrivateNetworkNamespace();

// Runs `work` on a thread that has joined the named namespace (ip netns name, or an absolute
// path such as /proc/1/ns/net) and returns when it is done. Exceptions are passed on.
void runInNamespace(const std::string& name, const std::function<void()>& work);

// Runs a command, returns its exit code; output goes to the test's log.
int runCommand(const std::vector<std::string>& argv);

class VirtualLan {
public:
    explicit VirtualLan(int hosts);
    ~VirtualLan();
    VirtualLan(const VirtualLan&) = delete;
    VirtualLan& operator=(const VirtualLan&) = delete;

    int size() const { return hosts_; }
    // Hosts are numbered from 1.
    std::string hostNamespace(int host) const;
    std::string address(int host) const { return "10.77.0." + std::to_string(host); }
    // argv prefix that runs a program on the host: {"ip", "netns", "exec", name}.
    std::vector<std::string> execPrefix(int host) const;

private:
    // Returns once every host link is up and every bridge port forwards.
    void waitUntilForwarding() const;
    void cleanup();
    std::string prefix_;
    int hosts_;
};

// Removes namespaces left behind by test processes that no longer run.
void removeStaleNamespaces();

} // namespace tnw::test
