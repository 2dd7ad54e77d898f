// A real plexmilld server for a test: its own home, temporary and data folders, registry files
// and clock, started only inside a private network namespace.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"

namespace tnw::test {

// Where one plexmilld keeps its files, and the clock a test can move forward.
class ServerHome {
public:
    ServerHome();
    const std::filesystem::path& path() const { return folder_.path(); }
    std::map<std::string, std::string> environment() const;

    // Replaces the machine registry file with these REG_DWORD values of the settings key.
    void setMachineNumbers(const std::map<std::string, std::uint32_t>& values) const;
    // Moves the server's clock forward.
    void advanceClock(std::uint64_t microseconds);
    std::uint64_t clockShift() const { return shift_; }

    std::filesystem::path intermediateFolder() const { return path() / "tmp" / "Quorvex Plexmill"; }
    std::string accessLog() const { return readText(intermediateFolder() / "access.log"); }
    // The intermediate folder of a server running as the service.
    std::filesystem::path serviceIntermediateFolder() const {
        return path() / "state" / "Quorvex Plexmill";
    }

private:
    TempFolder folder_;
    std::uint64_t shift_ = 0;
};

class ServerProcess {
public:
    // Starts `plexmilld --console ARGUMENTS` (behind `prefix`, e.g. "ip netns exec NAME").
    ServerProcess(ServerHome& home, std::vector<std::string> arguments, std::vector<std::string> prefix = {});
    ChildProcess& process() { return *process_; }
    bool waitUntilReady(std::chrono::milliseconds deadline = 20s) const;
    // Ctrl+C, then the exit code.
    std::optional<int> stop();

private:
    std::unique_ptr<ChildProcess> process_;
};

// The project's test kernel as FOLDER/millcore.exe, with an empty millcore.dll beside it unless
// told otherwise; the folder is made when missing.
void installTestKernel(const std::filesystem::path& folder, bool withLibrary = true);

// Connects to 127.0.0.1:port (or address) over TCP; -1 on failure.
int connectTcp(std::uint16_t port, const std::string& address = "127.0.0.1");
// Waits until a TCP port accepts connections.
bool waitForPort(std::uint16_t port, std::chrono::milliseconds deadline = 10s, const std::string& address = "127.0.0.1");

} // namespace tnw::test
