#include "service/server/capacity.hpp"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "service/server/manager.hpp"
#include "service/server/refusals.hpp"
#include "service/server/settings.hpp"
#include "util/clock.hpp"
#include "util/console.hpp"
#include "util/environment.hpp"
#include "util/format.hpp"
#include "util/stream_copy.hpp"
#include "util/processor_utilization.hpp"
#include "util/sizes.hpp"
#include "util/sync.hpp"
#include "util/system_info.hpp"
#include "util/thread.hpp"

namespace plexmill::server {

namespace {

std::atomic<double>& storedRating() {
    static std::atomic<double> rating{settings().ratingOverride};
    return rating;
}

// Only the monitor thread reads and writes it.
bool lastAccepting = true;

using Matrix = std::array<double, 16>;
std::atomic<double> benchmarkSink{0};

void multiply(Matrix& target, const Matrix& by) {
    Matrix product{};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) {
                sum += target[row * 4 + k] * by[k * 4 + column];
            }
            product[row * 4 + column] = sum;
        }
    }
    target = product;
}

// The benchmark's running time in microseconds.
std::uint64_t runBenchmark() {
    Matrix step;
    for (int i = 0; i < 16; ++i) {
        step[i] = i % 5 == 0 ? 1.000000001 : 1e-9;
    }
    Matrix identity{};
    for (int i = 0; i < 4; ++i) {
        identity[i * 5] = 1.0;
    }
    std::vector<Matrix> matrices(1024, identity);
    Matrix total{};
    tnw::util::Thread self = tnw::util::Thread::current();
    self.setPriority(tnw::util::thread_priority::kHighest);
    std::uint64_t start = tnw::util::monotonicMicroseconds();
    for (int pass = 0; pass < 16384; ++pass) {
        Matrix sum{};
        for (int i = 1023; i >= 0; --i) {
            multiply(matrices[i], step);
            for (int e = 0; e < 16; ++e) {
                sum[e] += matrices[i][e];
            }
        }
        for (int e = 0; e < 16; ++e) {
            total[e] += sum[e];
        }
    }
    std::uint64_t elapsed = tnw::util::monotonicMicroseconds() - start;
    self.setPriority(tnw::util::thread_priority::kNormal);
    // Keep the work observable so the optimiser cannot drop it.
    benchmarkSink.store(total[0], std::memory_order_relaxed);
    return elapsed == 0 ? 1 : elapsed;
}

} // namespace

double systemRating() { return storedRating().load(); }

void setSystemRating(double rating) { storedRating().store(rating); }

double knownSystemRating() {
    double rating = systemRating();
    return rating < 0 ? measureRating() : rating;
}

double ratingFor(std::uint64_t elapsedMicroseconds, std::uint32_t cores, std::uint32_t logical) {
    if (cores == 0) {
        cores = logical;
    }
    double perCore = 500'000'000.0 / static_cast<double>(elapsedMicroseconds);
    double result = cores * perCore;
    if (logical > cores) {
        result += (logical - cores) * perCore * 0.2;
    }
    return result;
}

double measureRating() {
    double measured = ratingFor(runBenchmark(), tnw::util::SystemInfo::coreCount(),
                                tnw::util::SystemInfo::processorCount());
    double stored = storedRating().load();
    while (measured >= stored && !storedRating().compare_exchange_weak(stored, measured)) {
    }
    return storedRating().load();
}

const char* ratingClassification(double rating) {
    if (rating > 8000) {
        return "System rating is super.";
    }
    if (rating > 6000) {
        return "System rating is great.";
    }
    if (rating > 4000) {
        return "System rating is good.";
    }
    if (rating < 1000) {
        return "System rating is bad.";
    }
    return "";
}

void reportRatingAtStart(bool serviceMode, bool quiet) {
    bool console = !serviceMode && !quiet;
    if (systemRating() < 0) {
        if (console) {
            std::fputs("Determining system rating...\n", stdout);
            std::fflush(stdout);
        }
        setSystemRating(measureRating());
    }
    if (!console) {
        return;
    }
    double truncated = static_cast<double>(static_cast<std::int64_t>(systemRating() * 1000)) / 1000;
    std::string text = tnw::util::format("System rating: %1\n", truncated);
    const char* classification = ratingClassification(systemRating());
    if (*classification != '\0') {
        text += std::string(classification) + "\n";
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

bool isAccepting(const Manager& manager) {
    return currentRefusals(manager).empty();
}

void updateAcceptingState(const Manager& manager) {
    bool accepting = isAccepting(manager);
    if (accepting == lastAccepting) {
        return;
    }
    lastAccepting = accepting;
    if (manager.serviceMode()) {
        return;
    }
    tnw::util::eraseStatusLine();
    std::string text = tnw::util::messagePrefix() +
                       (accepting ? "Incoming requests are now accepted.\n" : "Incoming requests are no longer accepted.\n");
    if (settings().verbose) {
        text += tnw::util::formatPrintf("  Usage: %.1f%%\n", manager.cpuUsage.load() * 100);
        text += tnw::util::format("  Sessions: %1/%2\n", manager.countJobSessions(), manager.config.maximumSessions);
        text += "  Available memory: " +
                tnw::util::formatSize(tnw::util::SystemInfo::memoryStatus().availablePhysical) + "\n";
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void monitorThread(Manager& manager, const tnw::util::Handle& end) {
    // Tests give the server a processor-time file of their own, so that how busy the test
    // machine happens to be does not decide whether the server takes work.
    std::string statFile = tnw::util::getEnvironment("PLEXMILL_PROC_STAT");
    auto sampler = statFile.empty() ? std::make_unique<tnw::util::ProcessorUtilizationImpl>()
                                    : std::make_unique<tnw::util::ProcessorUtilizationImpl>(
                                          [statFile]() -> std::optional<std::string> {
                                              tnw::util::ReadBuffer contents(65536);
                                              if (!tnw::util::readFile(statFile, contents)) {
                                                  return std::nullopt;
                                              }
                                              return contents.bytes;
                                          });
    int countdown = 5;
    for (;;) {
        if (countdown > 0) {
            --countdown;
        }
        if (manager.openSessions() != 0) {
            countdown = 5;
        }
        // `end` always holds a descriptor, so this waits even when the stop handle has none.
        const tnw::util::Handle handles[] = {manager.control().stopHandle(), end};
        std::size_t woken =
            tnw::util::waitForAny(handles, 2, false, countdown != 0 ? 1'000'000 : 5'000'000);
        if (woken != 0 || manager.stopRequested()) {
            return;
        }
        if (sampler) {
            double sample = sampler->sample();
            if (sample < 0) {
                if (!manager.serviceMode()) {
                    std::fputs("Error: CPU usage monitoring failed.\n", stderr);
                }
                sampler.reset();
                continue;
            }
            manager.cpuUsage.store(sample);
        }
        updateAcceptingState(manager);
    }
}

} // namespace plexmill::server
