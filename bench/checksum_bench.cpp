// Throughput of fileChecksum against `openssl dgst -sha256` over the same 1 GiB file, measured
// in the same run, so the ratio holds whatever else the machine is doing.
//
//   build/release/bench/checksum_bench [--benchmark_min_time=...]
#include "util/checksum.hpp"
#include "util/exception.hpp"
#include "util/file_stream.hpp"
#include "util/files.hpp"
#include "util/pipe.hpp"
#include "util/process.hpp"
#include "util/sync.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>

namespace {

using namespace tnw::util;

constexpr std::uint64_t kFileSize = 1ULL << 30;

std::string& benchFile() {
    static std::string path;
    return path;
}

// Fills the file with xorshift output: incompressible, cheap to make.
void createFile(const std::string& path) {
    FileOutputStream file(path);
    std::string piece(1 << 20, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::uint64_t written = 0; written < kFileSize; written += piece.size()) {
        for (std::size_t i = 0; i < piece.size(); i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(piece.data() + i, &state, 8);
        }
        file.write(piece.data(), piece.size());
    }
}

// Runs openssl dgst and returns its hex digest.
std::string opensslDigest(const std::string& path) {
    Pipe output;
    output.create(false);
    Process openssl;
    {
        ProcessOptions options;
        options.arguments = {"openssl", "dgst", "-sha256", "-r", path};
        options.handles.output = output.writeEnd();
        openssl = Process::start(options);
    }
    // Only the child may hold the write end now, or the output never ends.
    output.writeEnd().reset();
    if (!openssl.isValid() || !openssl.resume()) {
        return {};
    }
    PipeInputStream stream(output);
    std::string text;
    char buffer[256];
    try {
        for (;;) {
            text.append(buffer, stream.read(buffer, sizeof buffer));
        }
    } catch (const EndOfStreamException&) {
    }
    openssl.wait(kInfinite);
    return text.substr(0, 64);
}

// The standard digest's words written least significant byte first, as fileChecksum does.
std::string wordsReversed(const std::string& hex) {
    std::string text;
    for (std::size_t word = 0; word + 8 <= hex.size(); word += 8) {
        for (int byte = 3; byte >= 0; --byte) {
            text += hex.substr(word + static_cast<std::size_t>(byte) * 2, 2);
        }
    }
    return text;
}

void BM_FileChecksum(benchmark::State& state) {
    std::string checksum;
    for (auto _ : state) {
        checksum = fileChecksum(benchFile());
        benchmark::DoNotOptimize(checksum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
    state.SetLabel(checksum.substr(0, 16));
}

void BM_OpensslDgst(benchmark::State& state) {
    std::string digest;
    for (auto _ : state) {
        digest = opensslDigest(benchFile());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
    state.SetLabel(wordsReversed(digest).substr(0, 16));
}

BENCHMARK(BM_FileChecksum)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_OpensslDgst)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Prints as usual and keeps each benchmark's throughput for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end()) {
                throughput[run.benchmark_name()] = bytes->second.value;
            }
        }
    }
    std::map<std::string, double> throughput;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchFile() = joinPath(tempFolder(), "plexmill-checksum-bench-" + std::to_string(::getpid()));
    createFile(benchFile());
    // Both sides read from the page cache: one pass to fill it.
    fileChecksum(benchFile());
    std::string ours = fileChecksum(benchFile());
    std::string theirs = wordsReversed(opensslDigest(benchFile()));
    if (ours != theirs) {
        std::fprintf(
            stderr, "checksum %s differs from openssl's %s\n", ours.c_str(), theirs.c_str());
        removeFile(benchFile());
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    removeFile(benchFile());
    double checksum = reporter.throughput["BM_FileChecksum/iterations:3/real_time"];
    double openssl = reporter.throughput["BM_OpensslDgst/iterations:3/real_time"];
    if (checksum > 0 && openssl > 0) {
        std::printf("fileChecksum %.0f MB/s, openssl dgst %.0f MB/s, ratio %.2f\n",
                    checksum / 1e6,
                    openssl / 1e6,
                    checksum / openssl);
    }
    benchmark::Shutdown();
    return 0;
}
