#include "service/protocol/server_info.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace plexmill::protocol {
namespace {

ServerInfo fullInfo() {
    ServerInfo info;
    info.version = "14.1.0 build 42604";
    info.revision = 42604;
    info.runningSince = 13441110748514646ULL;
    info.processors = 8;
    info.measuredFrequency = 2601000000U;
    info.os = "LINUX";
    info.acceptRemote = true;
    info.http = false;
    info.description = "Cell 7: a:b";
    info.architecture = 3;
    info.physicalMemory = 17095983104ULL;
    info.availableMemory = 8547991552ULL;
    info.rating = 4800.5;
    info.openSessions = 3;
    info.totalSessions = 17;
    info.usage = 0.129;
    info.sessionTimeout = 172800000000ULL;
    info.maximumSessionSize = 4294967296ULL;
    info.maximumSessions = 40;
    info.jobSessions = {1234567890123, -5};
    return info;
}

TEST(ServerInfo, InfoReplyHoldsEveryLineInOrder) {
    EXPECT_EQ(infoReply(fullInfo()),
              "VERSION:14.1.0 build 42604\n"
              "REVISION:42604\n"
              "RUNNING_SINCE:13441110748514646\n"
              "CPUS:8\n"
              "MEASURED_FREQUENCY:2601000000\n"
              "OS:LINUX\n"
              "ACCEPT_REMOTE:YES\n"
              "HTTP:NO\n"
              "DESCRIPTION:Cell 7: a:b\n"
              "ARCH:X64\n"
              "PHYSICAL_MEMORY:17095983104\n"
              "AVAILABLE_MEMORY:8547991552\n"
              "RATING:4800.5\n"
              "OPEN_SESSIONS:3\n"
              "TOTAL_SESSIONS:17\n"
              "USAGE:12\n"
              "SESSION_TIMEOUT:172800000000\n"
              "MAXIMUM_SESSION_SIZE:4294967296\n"
              "MAXIMUM_SESSIONS:40\n"
              "SESSION:1234567890123\n"
              "SESSION:-5\n"
              "\n");
}

TEST(ServerInfo, OptionalLinesAreLeftOut) {
    ServerInfo info = fullInfo();
    info.description.clear();
    info.rating = 0;
    info.jobSessions.clear();
    info.acceptRemote = false;
    info.http = true;
    info.os = "CLOUD";
    std::string reply = infoReply(info);
    EXPECT_EQ(reply.find("DESCRIPTION:"), std::string::npos);
    EXPECT_EQ(reply.find("RATING:"), std::string::npos);
    EXPECT_NE(reply.find("\nOS:CLOUD\nACCEPT_REMOTE:NO\nHTTP:YES\nARCH:X64\n"), std::string::npos)
        << reply;
    EXPECT_TRUE(reply.ends_with("\nMAXIMUM_SESSIONS:40\n\n")) << reply;
    info.rating = -1;
    EXPECT_EQ(infoReply(info).find("RATING:"), std::string::npos);
}

TEST(ServerInfo, RatingUsesSixSignificantDigits) {
    ServerInfo info = fullInfo();
    const std::pair<double, const char*> cases[] = {
        {5000, "RATING:5000\n"},
        {999.9999, "RATING:1000\n"},
        {1234567.8, "RATING:1.23457e+06\n"},
        {0.001, "RATING:0.001\n"},
    };
    for (const auto& [rating, line] : cases) {
        SCOPED_TRACE(line);
        info.rating = rating;
        EXPECT_NE(infoReply(info).find(line), std::string::npos);
    }
}

TEST(ServerInfo, DescriptionIsCutToAHundredCharacters) {
    ServerInfo info = fullInfo();
    const std::string hundred(100, 'd');
    info.description = hundred + "tail";
    EXPECT_NE(infoReply(info).find("\nDESCRIPTION:" + hundred + "\nARCH:"), std::string::npos);
    info.description = hundred;
    EXPECT_NE(infoReply(info).find("\nDESCRIPTION:" + hundred + "\nARCH:"), std::string::npos);
    // 99 letters and a two-byte character make 100 characters; nothing of a character is cut.
    info.description = std::string(99, 'd') + "\xc3\xa9\xc3\xa9";
    EXPECT_NE(infoReply(info).find("\nDESCRIPTION:" + std::string(99, 'd') + "\xc3\xa9\nARCH:"),
              std::string::npos);
}

TEST(ServerInfo, LeadingCharactersCountsUtf8Characters) {
    EXPECT_EQ(leadingCharacters("abc", 2), "ab");
    EXPECT_EQ(leadingCharacters("abc", 3), "abc");
    EXPECT_EQ(leadingCharacters("abc", 5), "abc");
    EXPECT_EQ(leadingCharacters("\xe2\x82\xac\xe2\x82\xac", 1), "\xe2\x82\xac");
    EXPECT_EQ(leadingCharacters("", 0), "");
    EXPECT_EQ(leadingCharacters("a", 0), "");
}

TEST(ServerInfo, ArchitectureWords) {
    EXPECT_EQ(architectureWord(1), "IA32");
    EXPECT_EQ(architectureWord(2), "IA64");
    EXPECT_EQ(architectureWord(3), "X64");
    EXPECT_EQ(architectureWord(0), "UNKNOWN");
    EXPECT_EQ(architectureWord(9), "UNKNOWN");
}

TEST(ServerInfo, UsagePercentTruncatesWithinThirtyTwoBits) {
    const std::pair<double, std::int32_t> cases[] = {
        {0.0, 0},
        {0.129, 12},
        {0.999999, 99},
        {1.0, 100},
        {-0.005, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {1e300, 2147483647},
        {-1e300, -2147483647 - 1},
    };
    for (const auto& [usage, percent] : cases) {
        SCOPED_TRACE(usage);
        EXPECT_EQ(usagePercent(usage), percent);
    }
}

TEST(ServerInfo, UsageInfoReply) {
    EXPECT_EQ(usageInfoReply(8547991552ULL, 2, 0.755),
              "AVAILABLE_MEMORY:8547991552\nOPEN_SESSIONS:2\nUSAGE:75\n\n");
}

} // namespace
} // namespace plexmill::protocol
