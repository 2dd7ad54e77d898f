#include "util/proc_files.hpp"

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

TEST(ProcFiles, ReadsFilesThatReportNoSize) {
    auto text = readProcFile("/proc/self/status");
    ASSERT_TRUE(text);
    EXPECT_TRUE(procValue(*text, "VmRSS").has_value());
    EXPECT_EQ(readProcFile("/proc/self/no-such-file"), std::nullopt);
}

} // namespace
} // namespace tnw::util
