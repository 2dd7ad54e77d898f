#include "util/allocation.hpp"

#include "util/environment.hpp"
#include "util/proc_files.hpp"

#include <algorithm>
#include <charconv>
#include <sched.h>

namespace tnw::util {

namespace {

// The leading decimal number of `text`; nothing when it has none or it is 0.
std::optional<std::uint64_t> leadingNumber(std::string_view text) {
    std::uint64_t value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || value == 0) {
        return std::nullopt;
    }
    return value;
}

// cgroup v2 "QUOTA PERIOD": a quota of 150000 per 100000 allows two processors part of the
// time, so the count is rounded up.
std::optional<std::uint64_t> quotaProcessors(const std::string& cpuMax) {
    std::size_t blank = cpuMax.find(' ');
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    auto quota = leadingNumber(std::string_view(cpuMax).substr(0, blank));
    auto period = leadingNumber(std::string_view(cpuMax).substr(blank + 1));
    if (!quota || !period) {
        return std::nullopt; // "max": no limit
    }
    // Rounded up without adding first: a quota near the largest number must not wrap.
    return *quota / *period + (*quota % *period != 0 ? 1 : 0);
}

// The cgroup v2 folder of this process ("0::/path" in /proc/self/cgroup).
std::optional<std::string> ownCgroupFolder() {
    auto text = readProcFile("/proc/self/cgroup");
    if (!text) {
        return std::nullopt;
    }
    // The unified hierarchy's line, at the start of a line: "10::" is not it.
    std::size_t at = text->starts_with("0::") ? 0 : text->find("\n0::");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    at += text->starts_with("0::") ? 3 : 4;
    std::size_t end = text->find('\n', at);
    return "/sys/fs/cgroup" + text->substr(at, end == std::string::npos ? end : end - at);
}

std::uint32_t affinityCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(CPU_COUNT(&set));
}

} // namespace

std::optional<std::uint32_t> allocatedProcessorsFrom(const AllocationSources& sources) {
    std::optional<std::uint64_t> smallest;
    auto consider = [&](std::optional<std::uint64_t> limit) {
        if (limit) {
            smallest = smallest ? std::min(*smallest, *limit) : *limit;
        }
    };
    consider(leadingNumber(sources.cpusPerTask));
    consider(leadingNumber(sources.jobCpusPerNode));
    if (sources.cpuMax) {
        consider(quotaProcessors(*sources.cpuMax));
    }
    if (sources.affinity != 0) {
        consider(sources.affinity);
    }
    if (!smallest) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(*smallest, UINT32_MAX));
}

std::optional<std::uint32_t> allocatedProcessors() {
    if (getEnvironment(kAllocationVariable) != "1") {
        return std::nullopt;
    }
    AllocationSources sources;
    sources.cpusPerTask = getEnvironment("SLURM_CPUS_PER_TASK");
    sources.jobCpusPerNode = getEnvironment("SLURM_JOB_CPUS_PER_NODE");
    if (auto folder = ownCgroupFolder()) {
        sources.cpuMax = readProcFile(*folder + "/cpu.max");
    }
    sources.affinity = affinityCount();
    return allocatedProcessorsFrom(sources);
}

} // namespace tnw::util
