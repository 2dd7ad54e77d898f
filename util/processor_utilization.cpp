#include "util/processor_utilization.hpp"

#include "util/proc_files.hpp"

#include <algorithm>
#include <sstream>

namespace tnw::util {

namespace {

struct ProcessorTimes {
    std::uint64_t idle = 0;
    std::uint64_t total = 0;
};

// The summary line "cpu  user nice system idle iowait irq softirq steal guest guest_nice".
// Guest time is already part of user time and is not added again.
std::optional<ProcessorTimes> summaryLine(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string label;
        words >> label;
        if (label != "cpu") {
            continue;
        }
        std::uint64_t values[8] = {};
        int read = 0;
        while (read < 8 && words >> values[read]) {
            ++read;
        }
        if (read < 4) {
            return std::nullopt;
        }
        ProcessorTimes times;
        times.idle = values[3] + values[4];
        for (int i = 0; i < read; ++i) {
            times.total += values[i];
        }
        return times;
    }
    return std::nullopt;
}

} // namespace

ProcessorUtilizationImpl::ProcessorUtilizationImpl()
    : ProcessorUtilizationImpl([] { return readProcFile("/proc/stat"); }) {}

ProcessorUtilizationImpl::ProcessorUtilizationImpl(Reader reader) : reader_(std::move(reader)) {
    auto text = reader_();
    if (auto times = text ? summaryLine(*text) : std::nullopt) {
        previousIdle_ = times->idle;
        previousTotal_ = times->total;
    }
}

double ProcessorUtilizationImpl::sample() {
    auto text = reader_();
    auto times = text ? summaryLine(*text) : std::nullopt;
    if (!times || times->idle < previousIdle_ || times->total < previousTotal_) {
        return -1.0;
    }
    std::uint64_t passed = times->total - previousTotal_;
    std::uint32_t usage = lastUsage_;
    // No time passed (two samples within one tick): nothing new to learn, keep the last value.
    if (passed > 0) {
        // In integers: a float quotient would turn 20 % into 1999 after truncation.
        std::uint64_t idle = std::min(times->idle - previousIdle_, passed);
        usage = static_cast<std::uint32_t>((passed - idle) * kFull / passed);
        ring_[count_ % 3] = usage;
        ++count_;
        lastUsage_ = usage;
        previousIdle_ = times->idle;
        previousTotal_ = times->total;
    }
    std::uint32_t average = (ring_[0] + ring_[1] + ring_[2]) / 3;
    return static_cast<double>(std::max(usage, average)) / kFull;
}

} // namespace tnw::util
