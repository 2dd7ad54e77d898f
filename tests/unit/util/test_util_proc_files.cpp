#include "util/proc_files.hpp"
#include "util/process.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(ProcFiles, ValuesOfAKeyedListingInBytes) {
    const std::string status = "Name:\tcat\nVmHWM:\t    1234 kB\nVmRSS:\t  1000 kB\nThreads:\t3\n"
                               "VmRSSX:\t9 kB\n";
    EXPECT_EQ(procValue(status, "VmHWM"), 1234U * 1024);
    EXPECT_EQ(procValue(status, "VmRSS"), 1000U * 1024);
    EXPECT_EQ(procValue(status, "Threads"), 3U);
    EXPECT_EQ(procValue(status, "VmSwap"), std::nullopt);
    EXPECT_EQ(procValue(status, "Name"), std::nullopt);
}

TEST(ProcFiles, StatFieldsSurviveACommandNameWithBlanksAndParentheses) {
    const std::string stat = "4242 (evil) (name) 7) S 1 4242 4242 0 -1 4194560 100 0 0 0 "
                             "250 75 0 0 20 0 1 0 98765 1000000 200";
    auto fields = procStatFields(stat);
    EXPECT_EQ(fields.at(0), "S");
    EXPECT_EQ(procStatField(fields, 4), 1U);
    EXPECT_EQ(procStatField(fields, 14), 250U);
    EXPECT_EQ(procStatField(fields, 15), 75U);
    EXPECT_EQ(procStatField(fields, 22), 98765U);
    EXPECT_EQ(procStatField(fields, 2), std::nullopt);
    EXPECT_EQ(procStatField(fields, 99), std::nullopt);
    EXPECT_TRUE(procStatFields("no parenthesis").empty());
}

TEST(ProcFiles, ValuesWithoutANumberOrUnit) {
    const std::string meminfo = "MemTotal:\nMemFree: 12\nCached:  x kB\nSwapTotal:  7 kB";
    EXPECT_EQ(procValue(meminfo, "MemTotal"), std::nullopt);
    EXPECT_EQ(procValue(meminfo, "MemFree"), 12U);
    EXPECT_EQ(procValue(meminfo, "Cached"), std::nullopt);
    EXPECT_EQ(procValue(meminfo, "SwapTotal"), 7U * 1024);
}

TEST(ProcFiles, StatmFieldsInPages) {
    const std::string statm = "5000 1234 300 10 0 900 0\n";
    EXPECT_EQ(procStatmField(statm, 1), 5000U);
    EXPECT_EQ(procStatmField(statm, 2), 1234U);
    EXPECT_EQ(procStatmField(statm, 7), 0U);
    EXPECT_EQ(procStatmField(statm, 8), std::nullopt);
    EXPECT_EQ(procStatmField(statm, 0), std::nullopt);
    EXPECT_EQ(procStatmField("", 2), std::nullopt);
}

TEST(ProcFiles, ReadsFilesThatReportNoSize) {
    auto text = readProcFile("/proc/self/status");
    ASSERT_TRUE(text);
    EXPECT_TRUE(procValue(*text, "VmRSS").has_value());
    EXPECT_EQ(readProcFile("/proc/self/no-such-file"), std::nullopt);
    // Longer than the first read, so the text grows while it is read.
    auto maps = readProcFile("/proc/self/smaps");
    ASSERT_TRUE(maps);
    EXPECT_GT(maps->size(), 4096U);
    EXPECT_TRUE(maps->ends_with("\n"));
}

TEST(ProcFiles, TheWorkingSetIsTheResidentSizeStatusReports) {
    auto status = readProcFile("/proc/self/status");
    ASSERT_TRUE(status);
    std::uint64_t before = procValue(*status, "VmRSS").value_or(0);
    std::uint64_t workingSet = Process::current().workingSet();
    status = readProcFile("/proc/self/status");
    ASSERT_TRUE(status);
    std::uint64_t after = procValue(*status, "VmRSS").value_or(0);
    // Read between two readings of status; the process may grow by a few pages meanwhile.
    EXPECT_GE(workingSet + 64 * 1024, std::min(before, after));
    EXPECT_LE(workingSet, std::max(before, after) + 64 * 1024);
    EXPECT_GT(workingSet, 0U);
}

} // namespace
} // namespace tnw::util
