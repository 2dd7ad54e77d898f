#include "kernel/gcode_writer.hpp"

#include <gtest/gtest.h>

namespace plexmill::kernel {
namespace {

TEST(GcodeWriter, WritesModalMovesWithRetractsOnlyBetweenRuns) {
    Toolpath toolpath;
    toolpath.passes = {kernel::Pass{{{0, 0, 1}, {10, 0, 1}, {10, 5, 2}}},
                       kernel::Pass{{{20, 0, 0.5}, {20, 10, 0.5}, {20, 10.00001, 0.5}}}};
    GcodeSettings settings;
    settings.header = {"Job: a(b)\x01"};
    settings.spindle = 12000;
    settings.feed = 1000;
    settings.plungeFeed = 250;
    settings.clearanceHeight = 15;
    settings.safeHeight = 20;
    GcodeSummary summary;
    EXPECT_EQ(writeGcode(toolpath, settings, summary),
              "%\n"
              "(Job: a[b]?)\n"
              "G21 G90 G17 G94\n"
              "S12000 M3\n"
              "G0 Z20\n"
              "G0 X0 Y0 Z20\n"
              "Z2\n"
              "G1 Z1 F250\n"
              "X10 F1000\n"
              "Y5 Z2\n"
              "G0 Z15\n"
              "X20 Y0\n"
              "Z1.5\n"
              "G1 Z0.5 F250\n"
              "Y10 F1000\n"
              "G0 Z15\n"
              "G0 Z20\n"
              "M5\n"
              "M30\n"
              "%\n");
    EXPECT_EQ(summary.moves, 11u);
    EXPECT_NEAR(summary.cutLength, 27.0990195, 1e-6);
    EXPECT_NEAR(summary.rapidLength, 70.1803399, 1e-6);
}

TEST(GcodeWriter, FormatsNumbersToFourDecimals) {
    struct Case {
        double value;
        const char* text;
    };
    for (Case c : {Case{0, "0"},
                   Case{-0.00001, "0"},
                   Case{1.23456, "1.2346"},
                   Case{-2.5, "-2.5"},
                   Case{10, "10"},
                   Case{-1234.00009, "-1234.0001"},
                   Case{0.0005, "0.0005"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatNumber(c.value), c.text);
    }
}

} // namespace
} // namespace plexmill::kernel
