#include "util/system_info.hpp"

#include "util/allocation.hpp"

#include <sched.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include "util/proc_files.hpp"
#include "util/thread.hpp"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

namespace tnw::util {

namespace {

MemoryStatus memoryStatusOf(const std::optional<std::string>& meminfo) {
    MemoryStatus status;
    if (meminfo) {
        status.totalPhysical = procValue(*meminfo, "MemTotal").value_or(0);
        status.availablePhysical = procValue(*meminfo, "MemAvailable").value_or(0);
        status.totalPageFile = procValue(*meminfo, "SwapTotal").value_or(0);
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        status.totalVirtual = limit.rlim_cur;
    } else {
#if defined(__x86_64__)
        status.totalVirtual = 0x7FFFFFFFF000ULL; // user space below the 47-bit boundary
#endif
    }
    return status;
}

std::string trimmed(const std::string& text) {
    auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return {};
    }
    auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// An os-release value: quoted with " or ' (backslash escapes inside double quotes), or bare.
std::string shellValue(const std::string& raw) {
    if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
        return raw.substr(1, raw.size() - 2);
    }
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        std::string value;
        for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 2 < raw.size()) {
                ++i;
            }
            value += raw[i];
        }
        return value;
    }
    return raw;
}

// CPU numbers of a sysfs list such as "0-3,8,10-11".
std::vector<std::uint32_t> cpuList(const std::string& text) {
    std::vector<std::uint32_t> cpus;
    std::istringstream ranges(trimmed(text));
    std::string range;
    while (std::getline(ranges, range, ',')) {
        unsigned long first = 0;
        unsigned long last = 0;
        char dash = 0;
        std::istringstream parts(range);
        if (!(parts >> first)) {
            return {};
        }
        last = first;
        if (parts >> dash && (dash != '-' || !(parts >> last))) {
            return {};
        }
        for (unsigned long cpu = first; cpu <= last && cpus.size() < 65536; ++cpu) {
            cpus.push_back(static_cast<std::uint32_t>(cpu));
        }
    }
    return cpus;
}

std::optional<std::string> sysfsText(const std::string& path) {
    auto text = readProcFile(path);
    return text ? std::optional(trimmed(*text)) : std::nullopt;
}

} // namespace

std::string SystemInfo::osName() {
    std::string name = osNameFrom("/etc/os-release");
    return name != "Unknown" ? name : osNameFrom("/usr/lib/os-release");
}

std::string SystemInfo::osNameFrom(const std::string& osReleaseFile) {
    auto text = readProcFile(osReleaseFile);
    if (text) {
        std::istringstream lines(*text);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.starts_with("PRETTY_NAME=")) {
                std::string value = shellValue(trimmed(line.substr(12)));
                if (!value.empty()) {
                    return value;
                }
            }
        }
    }
    return "Unknown";
}

int SystemInfo::processorArchitecture() {
    utsname system{};
    if (::uname(&system) != 0) {
        return architecture::kOther;
    }
    std::string machine = system.machine;
    if (machine == "x86_64") {
        return architecture::kX64;
    }
    if (machine == "ia64") {
        return architecture::kItanium;
    }
    if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") {
        return architecture::kX86;
    }
    return architecture::kOther;
}

std::uint32_t SystemInfo::processorCount() {
    static const std::uint32_t count = [] {
        std::uint32_t online = processorCountFrom("/sys/devices/system/cpu");
        long configured = ::sysconf(_SC_NPROCESSORS_ONLN);
        std::uint32_t machine =
            online != 0 ? online : static_cast<std::uint32_t>(configured > 0 ? configured : 0);
        std::optional<std::uint32_t> allocated = allocatedProcessors();
        return allocated && (machine == 0 || *allocated < machine) ? *allocated : machine;
    }();
    return count;
}

std::uint32_t SystemInfo::processorCountFrom(const std::string& cpuFolder) {
    auto online = sysfsText(cpuFolder + "/online");
    return online ? static_cast<std::uint32_t>(cpuList(*online).size()) : 0;
}

std::uint32_t SystemInfo::coreCount() {
    std::uint32_t cores = coreCountFrom("/sys/devices/system/cpu");
    // An allocation counts its processors as cores: the session limit follows them.
    if (allocatedProcessors()) {
        return std::min(cores == 0 ? processorCount() : cores, processorCount());
    }
    return cores;
}

std::uint32_t SystemInfo::coreCountFrom(const std::string& cpuFolder) {
    auto online = sysfsText(cpuFolder + "/online");
    if (!online) {
        return 0;
    }
    // A core is known by its package, its die within the package and its number on the die.
    std::set<std::tuple<std::string, std::string, std::string>> cores;
    for (std::uint32_t cpu : cpuList(*online)) {
        std::string topology = cpuFolder + "/cpu" + std::to_string(cpu) + "/topology/";
        auto package = sysfsText(topology + "physical_package_id");
        auto core = sysfsText(topology + "core_id");
        if (!package || !core) {
            continue;
        }
        cores.emplace(*package, sysfsText(topology + "die_id").value_or("0"), *core);
    }
    return static_cast<std::uint32_t>(cores.size());
}

MemoryStatus SystemInfo::memoryStatus() {
    using Clock = std::chrono::steady_clock;
    static const ProcFile meminfo("/proc/meminfo");
    static std::mutex mutex;
    static MemoryStatus last;                        // guarded by mutex
    static std::optional<Clock::time_point> takenAt; // guarded by mutex
    std::lock_guard lock(mutex);
    Clock::time_point now = Clock::now();
    if (!takenAt || now - *takenAt >= std::chrono::microseconds(kMemoryStatusAge)) {
        last = memoryStatusOf(meminfo.read());
        takenAt = now;
    }
    return last;
}

MemoryStatus SystemInfo::memoryStatusFrom(const std::string& meminfoFile) {
    return memoryStatusOf(readProcFile(meminfoFile));
}

std::uint64_t SystemInfo::measuredFrequency() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    constexpr unsigned kTimeStampCounter = 1U << 4;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (edx & kTimeStampCounter) == 0) {
        return 0;
    }
    TimeCriticalScope critical;
    // Both readings on one processor: counters of different processors need not agree.
    cpu_set_t previous;
    bool pinned = false;
    if (::sched_getaffinity(0, sizeof previous, &previous) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &previous)) {
                cpu_set_t first;
                CPU_ZERO(&first);
                CPU_SET(cpu, &first);
                pinned = ::sched_setaffinity(0, sizeof first, &first) == 0;
                break;
            }
        }
    }
    timespec q0{};
    timespec q1{};
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &q0);
    std::uint64_t t0 = __rdtsc();
    Thread::sleep(15000);
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &q1);
    std::uint64_t t1 = __rdtsc();
    if (pinned) {
        ::sched_setaffinity(0, sizeof previous, &previous);
    }
    auto nanoseconds =
        static_cast<std::int64_t>(q1.tv_sec - q0.tv_sec) * 1000000000LL + (q1.tv_nsec - q0.tv_nsec);
    if (nanoseconds <= 0 || t1 <= t0) {
        return 0;
    }
    unsigned __int128 ticks = t1 - t0;
    return static_cast<std::uint64_t>(ticks * 1000000000U /
                                      static_cast<std::uint64_t>(nanoseconds));
#else
    return 0;
#endif
}

std::string SystemInfo::machineModel() {
    static const std::string model = machineModelFrom("/sys/class/dmi/id");
    return model;
}

std::string SystemInfo::machineModelFrom(const std::string& dmiFolder) {
    std::string model;
    for (const char* field : {"sys_vendor", "product_name", "product_version"}) {
        std::string text = sysfsText(dmiFolder + "/" + field).value_or("");
        if (text.size() > 1) {
            model += model.empty() ? text : " / " + text;
        }
    }
    return model;
}

bool SystemInfo::isAdministrator() {
    return ::geteuid() == 0;
}

} // namespace tnw::util
