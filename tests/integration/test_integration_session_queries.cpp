// The query and identification commands against a real plexmilld --console, byte for byte.
#include "tests/support/session_client.hpp"
#include "tests/support/session_server.hpp"
#include "util/system_info.hpp"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <thread>

namespace tnw::test {
namespace {

std::string escaped(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::uint64_t nowSince1601() {
    auto unix = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(unix.count()) + 11644473600000000ULL;
}

std::uint64_t physicalMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kilobytes = 0;
    while (meminfo >> key >> kilobytes) {
        if (key == "MemTotal:") {
            return kilobytes * 1024;
        }
        meminfo.ignore(100, '\n');
    }
    return 0;
}

std::uint64_t numberAfter(const std::string& block, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(block, match, std::regex(key + ":(\\d+)\n"))) {
        return 0;
    }
    return std::stoull(match[1].str());
}

// Ids of the sessions now open, oldest first, read from their folder names.
std::vector<std::int64_t> sessionIds(const ServerHome& home) {
    std::vector<std::int64_t> ids;
    for (const auto& name : sessionFolders(home)) {
        ids.push_back(static_cast<std::int64_t>(std::stoull(name.substr(8), nullptr, 16)));
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string ask(SessionClient& client, const std::string& command, const std::string& argument) {
    client.send(command + "\n" + argument + "\n");
    return client.receiveBlock();
}

TEST(SessionQueries, InfoListsEveryLineInOrder) {
    std::string description;
    while (description.size() < 150) {
        description += "Mill cell " + std::to_string(description.size()) + " ";
    }
    std::uint64_t before = nowSince1601();
    SessionServer server(
        {"--description", description, "--timeout", "5", "--size", "7", "--sessions", "3"},
        {},
        "4800.5");
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("INFO\n");
    std::string block = client.receiveBlock();
    std::string expected = "VERSION:14\\.1\\.0 build 42604\n"
                           "REVISION:42604\n"
                           "RUNNING_SINCE:\\d+\n"
                           "CPUS:" +
                           std::to_string(std::thread::hardware_concurrency()) +
                           "\n"
                           "MEASURED_FREQUENCY:\\d+\n"
                           "OS:LINUX\n"
                           "ACCEPT_REMOTE:YES\n"
                           "HTTP:NO\n"
                           "DESCRIPTION:" +
                           escaped(description.substr(0, 100)) +
                           "\n"
                           "ARCH:X64\n"
                           "PHYSICAL_MEMORY:" +
                           std::to_string(physicalMemory()) +
                           "\n"
                           "AVAILABLE_MEMORY:\\d+\n"
                           "RATING:4800\\.5\n"
                           "OPEN_SESSIONS:1\n"
                           "TOTAL_SESSIONS:0\n"
                           "USAGE:\\d{1,3}\n"
                           "SESSION_TIMEOUT:300000000\n"
                           "MAXIMUM_SESSION_SIZE:7340032\n"
                           "MAXIMUM_SESSIONS:3\n"
                           "\n";
    EXPECT_TRUE(std::regex_match(block, std::regex(expected))) << block;
    std::uint64_t started = numberAfter(block, "RUNNING_SINCE");
    EXPECT_LE(started, nowSince1601());
    EXPECT_GE(started + 5'000'000, before);
    EXPECT_LE(numberAfter(block, "USAGE"), 100U);
}

TEST(SessionQueries, InfoLeavesOutAnEmptyDescriptionAndAZeroRating) {
    SessionServer server({"--http"}, {}, "0");
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("INFO\n");
    std::string block = client.receiveBlock();
    EXPECT_EQ(block.find("RATING:"), std::string::npos) << block;
    EXPECT_NE(block.find("HTTP:YES\n"), std::string::npos) << block;
    // Without a configured description the machine's own stands there, when it has one.
    std::string model = tnw::util::SystemInfo::machineModel();
    if (model.empty()) {
        EXPECT_EQ(block.find("DESCRIPTION:"), std::string::npos) << block;
    } else {
        EXPECT_NE(block.find("\nDESCRIPTION:" + model.substr(0, 100) + "\n"), std::string::npos)
            << block;
    }
    EXPECT_TRUE(block.ends_with("\nMAXIMUM_SESSIONS:40\n\n")) << block;
}

TEST(SessionQueries, SessionInfoDescribesLiveSessions) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient first;
    first.handshake();
    first.send("USER\nbob\nAPPLICATION\ncam 1.0\n");
    EXPECT_EQ(first.receive(8), "ACK\nACK\n");
    std::uint64_t before = nowSince1601();
    SessionClient second;
    second.handshake();
    auto ids = sessionIds(server.home());
    ASSERT_EQ(ids.size(), 2U);

    std::string waiting = ask(second, "SESSION_INFO", std::to_string(ids[0]));
    std::string expected =
        "HOST:127\\.0\\.0\\.1:" + std::to_string(first.localPort()) +
        "\nAPPLICATION:cam 1\\.0\nUSER:bob\nSINCE:\\d+\nSTATE:WAITING\n(PROCESSING_TIME:\\d+\n)?\n";
    EXPECT_TRUE(std::regex_match(waiting, std::regex(expected))) << waiting;
    EXPECT_LE(numberAfter(waiting, "SINCE"), before);
    EXPECT_GE(numberAfter(waiting, "SINCE") + 20'000'000, before);

    std::string self = ask(second, "SESSION_INFO", std::to_string(ids[1]));
    expected = "HOST:127\\.0\\.0\\.1:" + std::to_string(second.localPort()) +
               "\nSINCE:\\d+\nSTATE:PROCESSING\n(PROCESSING_TIME:\\d+\n)?\n";
    EXPECT_TRUE(std::regex_match(self, std::regex(expected))) << self;

    for (std::string unknown : {std::string(),
                                std::string("-"),
                                std::string("12a"),
                                std::string("-5"),
                                std::string("99999999999999999999"),
                                std::to_string(ids[0] + 1)}) {
        SCOPED_TRACE(unknown);
        EXPECT_EQ(ask(second, "SESSION_INFO", unknown), "\n");
    }
}

TEST(SessionQueries, SessionHistoryOfAServerWithoutJobsIsOneEmptyLine) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    for (const char* since : {"0", "", "x", "-1", "99999999999999999999", "13000000000000000"}) {
        SCOPED_TRACE(since);
        EXPECT_EQ(ask(client, "SESSION_HISTORY", since), "\n");
    }
    client.send("IS_ALIVE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
}

TEST(SessionQueries, UsageInfoCountsEverySession) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient other;
    other.handshake();
    SessionClient client;
    client.handshake();
    client.send("USAGE_INFO\n");
    std::string block = client.receiveBlock();
    EXPECT_TRUE(std::regex_match(
        block, std::regex("AVAILABLE_MEMORY:\\d+\nOPEN_SESSIONS:2\nUSAGE:\\d{1,3}\n\n")))
        << block;
}

TEST(SessionQueries, UserAndApplicationAreFilteredAndGivenOnce) {
    SessionServer server({"--verbose"});
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("USER\nJohn Doe-Smith/2\nUSER\nMallory\n");
    EXPECT_EQ(client.receive(5), "ACK\n\n");
    client.send("APPLICATION\n-/\xc3\xa9\nAPPLICATION\nCAM_suite 2.1\nAPPLICATION\nother\n");
    EXPECT_EQ(client.receive(9), "ACK\nACK\n\n");
    auto ids = sessionIds(server.home());
    ASSERT_EQ(ids.size(), 1U);
    std::string self = ask(client, "SESSION_INFO", std::to_string(ids[0]));
    EXPECT_NE(self.find("\nAPPLICATION:CAM_suite 2.1\nUSER:John DoeSmith2\n"), std::string::npos)
        << self;
    EXPECT_TRUE(server.process().waitForOutput("Invalid application.\n"));
    EXPECT_TRUE(std::regex_search(server.output(),
                                  std::regex(R"(\[\d{1,2}:\d\d:\d\d/1\] Invalid username\.\n)")))
        << server.output();
}

TEST(SessionQueries, RevisionOutcomes) {
    SessionServer server({"--verbose"});
    ASSERT_TRUE(server.ready());
    struct Case {
        const char* commands;
        const char* replies;
        bool ends;
        const char* printed;
    };
    const Case cases[] = {
        {"REVISION\n36300\nIS_ALIVE\n", "ACK\nACK\n", false, nullptr},
        {"REVISION\n0\nREVISION\n4294967295\nIS_ALIVE\n", "ACK\nACK\nACK\n", false, nullptr},
        {"REVISION\n36300\nREVISION\n36301\nIS_ALIVE\n",
         "ACK\n",
         true,
         "Revision already provided.\n"},
        {"REVISION\nx1\nIS_ALIVE\n", "\n", true, "Invalid revision.\n"},
        {"REVISION\n4294967296\nIS_ALIVE\n", "\n", true, "Invalid revision.\n"},
        {"REVISION\n\nIS_ALIVE\n", "\n", true, "Invalid revision.\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.commands);
        SessionClient client;
        client.handshake();
        client.send(test.commands);
        if (test.ends) {
            EXPECT_EQ(client.receiveUntilEnd(), test.replies);
            EXPECT_TRUE(client.endedByServer());
            EXPECT_TRUE(server.process().waitForOutput(test.printed));
        } else {
            EXPECT_EQ(client.receive(std::string(test.replies).size()), test.replies);
            EXPECT_TRUE(client.staysQuiet());
        }
    }
}

TEST(SessionQueries, MeasureSendsThePatternInPieces) {
    SessionServer server;
    ASSERT_TRUE(server.ready());
    SessionClient client;
    client.handshake();
    client.send("MEASURE\n65636\n");
    std::string bytes = client.receive(65636 + 4);
    ASSERT_EQ(bytes.size(), 65640U);
    for (std::size_t i = 0; i < 65636; ++i) {
        ASSERT_EQ(static_cast<unsigned char>(bytes[i]), (i < 65536 ? i : i - 65536) % 256) << i;
    }
    EXPECT_EQ(bytes.substr(65636), "ACK\n");

    const std::pair<std::string, std::string> cases[] = {
        {"", "\n"},
        {"abc", "\n"},
        {"-1", "\n"},
        {"4294967296", "\n"},
        {"0", "ACK\n"},
        {"3",
         std::string("\x00\x01\x02"
                     "ACK\n",
                     7)},
    };
    for (const auto& [count, reply] : cases) {
        SCOPED_TRACE(count);
        client.send("MEASURE\n" + count + "\nIS_ALIVE\n");
        EXPECT_EQ(client.receive(reply.size() + 4), reply + "ACK\n");
    }
}

} // namespace
} // namespace tnw::test
