#include "util/processor_utilization.hpp"

#include <deque>
#include <gtest/gtest.h>

namespace tnw::util {
namespace {

// Hands out prepared /proc/stat texts one per sample.
ProcessorUtilizationImpl::Reader script(std::deque<std::optional<std::string>> texts) {
    auto queue = std::make_shared<std::deque<std::optional<std::string>>>(std::move(texts));
    return [queue]() -> std::optional<std::string> {
        auto next = queue->front();
        queue->pop_front();
        return next;
    };
}

// A /proc/stat text whose summary line has the given busy (user) and idle counts.
std::string stat(std::uint64_t busy, std::uint64_t idle) {
    return "cpu  " + std::to_string(busy) + " 0 0 " + std::to_string(idle) +
           " 0 0 0 0 0 0\ncpu0 1 2 3 4 5 6 7 8 0 0\nintr 12345\n";
}

TEST(ProcessorUtilization, KeepsTheLargerOfTheSampleAndTheAverageOfThree) {
    ProcessorUtilizationImpl sampler(script({
        stat(0, 0),      // read at construction
        stat(200, 800),  // 20 % busy;             ring {2000, 0, 0}
        stat(500, 900),  // 300 of 400: 75 %;       ring {2000, 7500, 0}
        stat(500, 1300), // idle throughout: 0 %;   ring {2000, 7500, 0}
        stat(500, 1300), // no time passed: nothing new
        stat(900, 1300), // all busy: 100 %;        ring {10000, 7500, 0}
        stat(900, 1700), // 0 %;                    ring {10000, 0, 0}
    }));
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.2);
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.75);
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.3166);
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.3166);
    EXPECT_DOUBLE_EQ(sampler.sample(), 1.0);
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.3333);
}

TEST(ProcessorUtilization, UnreadableOrImpossibleCountersGiveMinusOne) {
    ProcessorUtilizationImpl sampler(script({
        stat(0, 0), // read at construction
        std::nullopt,
        std::string("intr 1 2 3\n"),
        std::string("cpu  1 2\n"),
        stat(500, 500),
        stat(400, 500), // counters went backwards
        stat(600, 600),
    }));
    EXPECT_DOUBLE_EQ(sampler.sample(), -1.0);
    EXPECT_DOUBLE_EQ(sampler.sample(), -1.0);
    EXPECT_DOUBLE_EQ(sampler.sample(), -1.0);
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.5);
    EXPECT_DOUBLE_EQ(sampler.sample(), -1.0);
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.5);
}

TEST(ProcessorUtilization, TheFirstSampleCoversOnlyTheTimeSinceConstruction) {
    SCOPED_TRACE("a machine that was busy before, idle since");
    ProcessorUtilizationImpl sampler(script({stat(9000, 1000), stat(9000, 2000)}));
    EXPECT_DOUBLE_EQ(sampler.sample(), 0.0);

    SCOPED_TRACE("counters unreadable at construction: the average since start-up");
    ProcessorUtilizationImpl late(script({std::nullopt, stat(9000, 1000)}));
    EXPECT_DOUBLE_EQ(late.sample(), 0.9);
}

TEST(ProcessorUtilization, SamplesThisMachine) {
    ProcessorUtilizationImpl sampler;
    for (int i = 0; i < 2; ++i) {
        double share = sampler.sample();
        EXPECT_GE(share, 0.0);
        EXPECT_LE(share, 1.0);
    }
}

} // namespace
} // namespace tnw::util
