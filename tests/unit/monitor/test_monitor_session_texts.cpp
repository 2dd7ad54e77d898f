#include "monitor/session_texts.hpp"
#include "tests/support/zone_scope.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolver.hpp"

#include <gtest/gtest.h>

namespace plexmill::monitor {
namespace {

// 192.168.1.27 is called cam-07; every other address has no name (the system resolver answers
// with the dotted text then).
class KnownNames : public testing::Test {
protected:
    KnownNames() {
        tnw::util::NameResolver::setLookups({[](std::uint32_t address) {
                                                 return address == 0xC0A8011BU
                                                            ? std::string("cam-07")
                                                            : tnw::util::addressText(address);
                                             },
                                             [](const std::string&) { return std::uint32_t{0}; }});
    }
    ~KnownNames() override { tnw::util::NameResolver::setLookups({}); }
    // India's zone, half an hour off the hour, so a missed conversion shows.
    tnw::test::ZoneScope zone_{"IST-5:30"};
};

TEST_F(KnownNames, ActiveSessionTexts) {
    struct Case {
        std::vector<std::string> lines;
        std::string text;
    };
    // 13132899300000000 is 2017-03-02 03:35:00 UTC (python3 datetime).
    const Case cases[] = {
        {{"HOST:192.168.1.27:49152",
          "APPLICATION:cam 1.0",
          "USER:bob",
          "SINCE:13132899300000000",
          "STATE:PROCESSING",
          "PROCESSING_TIME:1500",
          "MEMORY_USAGE:12582911",
          "CPU_USAGE:0.25"},
         "cam-07 [192.168.1.27]: USER=bob SINCE=2-3-2017 9:05:00 MEM=11Mb"},
        {{"HOST:10.0.0.9:7000", "SINCE:13132899300000000", "PROCESSING_TIME:1"},
         "[10.0.0.9]: USER= SINCE=2-3-2017 9:05:00 MEM=0Mb"},
        // What does not parse reads as nothing.
        {{"HOST:nowhere:1", "USER:x", "SINCE:-5", "MEMORY_USAGE:1e9"},
         "[0.0.0.0]: USER=x SINCE=1-1-1601 5:30:00 MEM=0Mb"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        EXPECT_EQ(activeSessionText(readLiveSession(test.lines)), test.text);
    }
    EXPECT_EQ(readLiveSession({"PROCESSING_TIME:1500"}).processingTime, 1500U);
    EXPECT_EQ(readLiveSession({"PROCESSING_TIME:"}).processingTime, 0U);
}

TEST_F(KnownNames, RecentSessionTexts) {
    struct Case {
        FinishedSessionFacts session;
        std::string text;
    };
    const Case cases[] = {
        {{"192.168.1.27:49152", "bob", 1'000'000, 62'004'999},
         "cam-07 [192.168.1.27]: USER=bob TIME=01:01.004"},
        {{"10.0.0.9:7000", "", 0, 3'723'004'000}, "[10.0.0.9]: USER= TIME=1:02:03:004"},
        // A record that ends before it starts has no time.
        {{"10.0.0.9:7000", "eve", 5'000'000, 1'000'000}, "[10.0.0.9]: USER=eve TIME=00:00.000"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        EXPECT_EQ(recentSessionText(test.session), test.text);
    }
}

} // namespace
} // namespace plexmill::monitor
