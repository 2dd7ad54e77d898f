// Facts about the machine that servers publish: system, processors, memory, model.
#pragma once

#include <cstdint>
#include <string>

namespace tnw::util {

struct MemoryStatus {
    std::uint64_t totalPhysical = 0;     // bytes of RAM
    std::uint64_t availablePhysical = 0; // bytes that can be given out without swapping
    std::uint64_t totalVirtual = 0;      // the user address space of a process
    std::uint64_t totalPageFile = 0;     // swap space
};

// Processor architectures as peers number them.
namespace architecture {
inline constexpr int kOther = 0;
inline constexpr int kX86 = 1;
inline constexpr int kItanium = 2;
inline constexpr int kX64 = 3;
} // namespace architecture

// Every query gives a neutral value (0, empty) when its source cannot be read. The *From
// forms read another root, for tests; the plain forms read the machine's own files.
class SystemInfo {
public:
    class ProcessorUtilization;

    static std::string platformName() { return "LINUX"; }
    // PRETTY_NAME of os-release; "Unknown" without one.
    static std::string osName();
    static std::string osNameFrom(const std::string& osReleaseFile);
    static int processorArchitecture();
    // Logical processors online, or those of the allocation (allocation.hpp); computed once.
    static std::uint32_t processorCount();
    static std::uint32_t processorCountFrom(const std::string& cpuFolder);
    // Physical cores: distinct cores per package among the online processors.
    static std::uint32_t coreCount();
    static std::uint32_t coreCountFrom(const std::string& cpuFolder);
    // A reading at most kMemoryStatusAge old: the status port and the admission checks ask
    // for every request, and the kernel's listing costs more than answering the request.
    static MemoryStatus memoryStatus();
    static constexpr std::uint32_t kMemoryStatusAge = 100'000; // microseconds
    static MemoryStatus memoryStatusFrom(const std::string& meminfoFile);
    // Time-stamp counter ticks per second over 15 ms; 0 without a time-stamp counter.
    // Computed on each call.
    static std::uint64_t measuredFrequency();
    // Manufacturer, product and version of the board's DMI data, joined by " / ", leaving out
    // texts of one character or less; computed once.
    static std::string machineModel();
    static std::string machineModelFrom(const std::string& dmiFolder);
    // Whether the process runs with the rights of the administrator (effective user root).
    static bool isAdministrator();
};

// Sampled by the usage monitor; see ProcessorUtilizationImpl.
class SystemInfo::ProcessorUtilization {
public:
    ProcessorUtilization() = default;
    virtual ~ProcessorUtilization() = default;
    ProcessorUtilization(const ProcessorUtilization&) = delete;
    ProcessorUtilization& operator=(const ProcessorUtilization&) = delete;
    // The share of processor time in use since the previous sample, 0.0 to 1.0; -1.0 on failure.
    virtual double sample() = 0;
};

} // namespace tnw::util
