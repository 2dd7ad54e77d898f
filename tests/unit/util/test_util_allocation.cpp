#include "util/allocation.hpp"
#include "util/environment.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace tnw::util {
namespace {

TEST(Allocation, TheSmallestLimitStatedWinsAndMalformedOnesAreIgnored) {
    struct Case {
        const char* name;
        AllocationSources sources;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {"nothing stated", {"", "", std::nullopt, 0}, std::nullopt},
        {"cpus per task", {"3", "", std::nullopt, 0}, 3},
        {"job cpus on one node", {"", "6", std::nullopt, 0}, 6},
        {"job cpus repeated over nodes", {"", "4(x2)", std::nullopt, 0}, 4},
        {"job cpus listed per node: the first is ours", {"", "4,2", std::nullopt, 0}, 4},
        {"per task below the node's", {"2", "8", std::nullopt, 0}, 2},
        {"cgroup quota of whole processors", {"", "", "200000 100000\n", 0}, 2},
        {"cgroup quota rounded up", {"", "", "150000 100000\n", 0}, 2},
        {"cgroup quota below one processor", {"", "", "50000 100000\n", 0}, 1},
        {"cgroup without a quota", {"", "", "max 100000\n", 0}, std::nullopt},
        {"cgroup quota below slurm's", {"4", "4", "100000 100000\n", 0}, 1},
        {"affinity alone", {"", "", std::nullopt, 5}, 5},
        {"affinity below the rest", {"8", "8", "800000 100000", 3}, 3},
        {"affinity above the quota", {"", "", "300000 100000", 16}, 3},
        {"negative count", {"-2", "", std::nullopt, 0}, std::nullopt},
        {"zero count", {"0", "0", std::nullopt, 0}, std::nullopt},
        {"not a number", {"many", "x(x2)", std::nullopt, 0}, std::nullopt},
        {"leading blank", {" 2", "", std::nullopt, 4}, 4},
        {"beyond 64 bits", {"99999999999999999999999", "", std::nullopt, 2}, 2},
        {"beyond 32 bits", {"8589934592", "", std::nullopt, 0}, 4294967295U},
        {"cgroup quota without a period", {"", "", "150000", 0}, std::nullopt},
        {"cgroup period of zero", {"", "", "150000 0", 0}, std::nullopt},
        {"cgroup garbage", {"", "", "max max", 0}, std::nullopt},
        {"cgroup empty", {"", "", "", 6}, 6},
        {"cgroup quota at the largest number",
         {"", "", "18446744073709551615 100000", 0},
         4294967295U},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(allocatedProcessorsFrom(c.sources), c.expected);
    }
}

TEST(Allocation, OnlyCountsWhenAskedTo) {
    ASSERT_TRUE(setEnvironment("SLURM_CPUS_PER_TASK", "1"));
    ASSERT_TRUE(setEnvironment(kAllocationVariable, ""));
    EXPECT_EQ(allocatedProcessors(), std::nullopt);
    ASSERT_TRUE(setEnvironment(kAllocationVariable, "yes"));
    EXPECT_EQ(allocatedProcessors(), std::nullopt);
    ASSERT_TRUE(setEnvironment(kAllocationVariable, "1"));
    // This process may run on at least one processor; the task's one is the smallest limit.
    EXPECT_EQ(allocatedProcessors(), 1U);
    ASSERT_TRUE(setEnvironment(kAllocationVariable, ""));
    ASSERT_TRUE(setEnvironment("SLURM_CPUS_PER_TASK", ""));
}

} // namespace
} // namespace tnw::util
