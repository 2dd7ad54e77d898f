// The processors a batch system gave this process. A server started as a pilot job (Slurm,
// or any cgroup-limited container) should count only those, so that it takes as many sessions
// as its allocation holds rather than as many as the machine has.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tnw::util {

// Set to 1, PLEXMILL_ALLOCATION makes the server take its processor count (and so its
// session limit) from the allocation.
inline constexpr const char* kAllocationVariable = "PLEXMILL_ALLOCATION";

struct AllocationSources {
    std::string cpusPerTask;           // SLURM_CPUS_PER_TASK
    std::string jobCpusPerNode;        // SLURM_JOB_CPUS_PER_NODE: "4", "4(x2)" or "4,2"
    std::optional<std::string> cpuMax; // cgroup v2 cpu.max: "max 100000" or "QUOTA PERIOD"
    std::uint32_t affinity = 0;        // processors this process may run on; 0 when unknown
};

// The smallest of the limits the sources state, at least 1; nothing when none states one.
std::optional<std::uint32_t> allocatedProcessorsFrom(const AllocationSources& sources);

// The allocation of this process when PLEXMILL_ALLOCATION is "1": the Slurm variables, the
// cpu.max of its cgroup and its processor affinity. Nothing otherwise.
std::optional<std::uint32_t> allocatedProcessors();

} // namespace tnw::util
