// Processor utilisation from the kernel's counters in /proc/stat.
#pragma once

#include "util/system_info.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tnw::util {

// Each sample compares the idle time against the time passed since the previous sample and
// reports the larger of that share and the average of the last three, smoothing dips without
// hiding a sudden load. The first sample covers the time since the sampler was made: an average
// since the machine started says nothing about now, and a machine that was busy an hour ago
// would refuse its first job. When the counters cannot be read at construction, the first
// sample falls back to that average.
class ProcessorUtilizationImpl : public SystemInfo::ProcessorUtilization {
public:
    // Returns the text of /proc/stat, or nullopt when it cannot be read.
    using Reader = std::function<std::optional<std::string>()>;

    ProcessorUtilizationImpl();
    explicit ProcessorUtilizationImpl(Reader reader);

    double sample() override;

private:
    static constexpr std::uint32_t kFull = 10000;

    Reader reader_;
    std::uint64_t previousIdle_ = 0;
    std::uint64_t previousTotal_ = 0;
    std::uint32_t ring_[3] = {0, 0, 0};
    std::uint32_t count_ = 0;
    std::uint32_t lastUsage_ = 0;
};

} // namespace tnw::util
