// How the file cache's costs grow with the number of entries: looking a file up (as
// IS_FILE_CACHED and FILE_CACHE do), entering one beside N others, and entering one into a full
// cache, which evicts the least recently used. Each is reported per operation at N = 10, 100,
// 1,000 and 10,000; a flat column is the aim (a map lookup grows with log N only).
//
//   build/release/bench/file_cache_scale_bench
#include "service/server/file_cache.hpp"
#include "util/files.hpp"
#include "util/format.hpp"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using plexmill::server::FileCache;
using plexmill::server::PeerAddress;
using tnw::util::Time;

constexpr PeerAddress kPeer{0x0A000001, 50001};

// 64 hexadecimal digits, as checksums are, spread over the key space.
std::string checksumOf(std::uint64_t number) {
    std::string text = tnw::util::formatPrintf(
        "%016llx", static_cast<unsigned long long>(number * 0x9E3779B97F4A7C15ULL));
    return text + text + text + text;
}

// A cache in its own folder with `count` entries of one byte each, last used in order.
// `withFiles` stores a real file for each, as lookups check the stored file.
struct FilledCache {
    FilledCache(std::size_t count, bool withFiles) {
        folder = tnw::util::joinPath(tnw::util::tempFolder(),
                                     "file-cache-scale-" + std::to_string(::getpid()));
        cache.reset(folder);
        for (std::size_t i = 0; i < count; ++i) {
            std::string checksum = checksumOf(i);
            std::string path = cache.pathFor(checksum);
            if (withFiles) {
                FILE* file = std::fopen(path.c_str(), "w");
                std::fputc('x', file);
                std::fclose(file);
            }
            cache.enter(checksum, Time(1000 + i), 1, path, kPeer);
            checksums.push_back(checksum);
        }
    }
    ~FilledCache() { tnw::util::removeFolder(folder); }

    std::string folder;
    FileCache cache;
    std::vector<std::string> checksums;
};

void BM_Lookup(benchmark::State& state) {
    FilledCache filled(static_cast<std::size_t>(state.range(0)), true);
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& checksum = filled.checksums[next++ % filled.checksums.size()];
        benchmark::DoNotOptimize(filled.cache.containsIntact(checksum, 1));
    }
}

// Entering beside N others with room to spare, then removing it again: N stays.
void BM_InsertAndRemove(benchmark::State& state) {
    FilledCache filled(static_cast<std::size_t>(state.range(0)), false);
    std::uint64_t next = 1'000'000;
    for (auto _ : state) {
        std::string checksum = checksumOf(next);
        filled.cache.enter(checksum, Time(next), 1, filled.cache.pathFor(checksum), kPeer);
        filled.cache.remove(checksum);
        ++next;
    }
}

// A full cache: every entry evicts the least recently used one, so N stays.
void BM_InsertWithEviction(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    FilledCache filled(count, false);
    filled.cache.setCapacity(count);
    std::uint64_t next = 1'000'000;
    for (auto _ : state) {
        std::string checksum = checksumOf(next);
        filled.cache.enter(checksum, Time(next), 1, filled.cache.pathFor(checksum), kPeer);
        ++next;
    }
    if (filled.cache.entries().size() != count) {
        state.SkipWithError("the cache did not stay at N entries");
    }
}

// A file used again (FILE_CACHE marks it), which moves it to the young end.
void BM_Touch(benchmark::State& state) {
    FilledCache filled(static_cast<std::size_t>(state.range(0)), false);
    std::size_t next = 0;
    std::uint64_t now = 1'000'000;
    for (auto _ : state) {
        const std::string& checksum = filled.checksums[next++ % filled.checksums.size()];
        filled.cache.touch(*filled.cache.find(checksum), Time(++now));
    }
}

BENCHMARK(BM_Lookup)->RangeMultiplier(10)->Range(10, 10'000);
BENCHMARK(BM_InsertAndRemove)->RangeMultiplier(10)->Range(10, 10'000);
BENCHMARK(BM_InsertWithEviction)->RangeMultiplier(10)->Range(10, 10'000);
BENCHMARK(BM_Touch)->RangeMultiplier(10)->Range(10, 10'000);

} // namespace

BENCHMARK_MAIN();
