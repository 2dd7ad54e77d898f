// The tray monitor's polling thread against a real plexmilld and against scripted servers, on
// the loopback of the test's own network namespace, where the test also holds or frees the
// server's instance name.
#include "monitor/poll_loop.hpp"
#include "service/protocol/namespaces.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/wait.hpp"
#include "util/instance_lock.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tnw::test {
namespace {

using plexmill::monitor::MonitorState;
using plexmill::monitor::Poller;
using plexmill::monitor::PollOptions;
using util::Handle;
using util::InstanceLock;

PollOptions quickPolling() {
    PollOptions options;
    options.cyclePause = 50ms;
    options.backoffPause = 100ms;
    options.notRunningPause = 100ms;
    options.receiveTimeout = 400;
    return options;
}

bool matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

TEST(MonitorPolling, FollowsTheSessionsOfARealServer) {
    ServerHome home;
    installTestKernel(home.path() / "kernel");
    ServerProcess server(home, {"--rating", "5000", "--kernel", (home.path() / "kernel").string()});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    MonitorState state;
    Poller poller(state, quickPolling());
    poller.start();
    ASSERT_TRUE(waitUntil([&] { return state.responded.load(); }, 10s));
    EXPECT_TRUE(state.accepting);
    EXPECT_FALSE(state.httpAvailable);
    EXPECT_EQ(state.totalSessions, 0U);

    // A job whose kernel computes until it is aborted is an active session.
    SessionClient client;
    EXPECT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    client.send("USER\ncarol\nRUN\n\n12\nsilent 3600\n");
    EXPECT_EQ(client.receive(8), "ACK\nACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    ASSERT_TRUE(waitUntil([&] { return state.activeCount() == 1; }, 10s));
    auto lists = state.lists();
    EXPECT_TRUE(matches(lists.active.at(0),
                        R"(([^ ]+ )?\[127\.0\.0\.1\]: USER=carol SINCE=\d{1,2}-\d{1,2}-\d{4} )"
                        R"(\d{1,2}:\d\d:\d\d MEM=\d+Mb)"))
        << lists.active[0];
    EXPECT_TRUE(lists.recent.empty());
    EXPECT_EQ(state.totalSessions, 1U);

    // Finished, it moves to the recent list, once, however many cycles pass.
    client.send("ABORT\n");
    EXPECT_EQ(client.receiveUntilEnd(), "ACK\n");
    ASSERT_TRUE(waitUntil(
        [&] { return state.activeCount() == 0 && state.lists().recent.size() == 1; }, 10s));
    SessionClient second;
    second.handshake();
    second.send("USER\ndave\nRUN\n\n5\ncopy\n");
    EXPECT_EQ(second.receive(8), "ACK\nACK\n");
    second.send("DONE\n");
    EXPECT_TRUE(second.receiveUntilEnd().ends_with("ACK\n"));
    second.close();
    ASSERT_TRUE(waitUntil([&] { return state.lists().recent.size() == 2; }, 10s));
    std::this_thread::sleep_for(300ms); // several cycles that must add nothing
    lists = state.lists();
    ASSERT_EQ(lists.recent.size(), 2U);
    EXPECT_TRUE(
        matches(lists.recent[0], R"(([^ ]+ )?\[127\.0\.0\.1\]: USER=dave TIME=\d\d:\d\d\.\d{3})"))
        << lists.recent[0];
    EXPECT_TRUE(
        matches(lists.recent[1], R"(([^ ]+ )?\[127\.0\.0\.1\]: USER=carol TIME=\d\d:\d\d\.\d{3})"))
        << lists.recent[1];
    EXPECT_EQ(state.totalSessions, 2U);

    // A server that stopped does not respond.
    EXPECT_EQ(server.stop(), 0);
    EXPECT_TRUE(waitUntil([&] { return !state.responded; }, 10s));
}

// A session server that answers from a script: one connection at a time on 127.0.0.1:7387,
// every request written down.
class ScriptedServer {
public:
    struct Script {
        std::string info;                            // the INFO block, with its empty line
        std::map<std::string, std::string> sessions; // SESSION_INFO blocks by id
        std::function<std::string(const std::string&)> history; // SESSION_HISTORY by argument
    };

    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        thread_ = std::thread([this] { serve(); });
        EXPECT_TRUE(waitUntil([this] { return listening_.load(); }, 5s));
    }
    ~ScriptedServer() {
        stop_ = true;
        thread_.join();
    }

    std::vector<std::string> requests() const {
        std::lock_guard guard(lock_);
        return requests_;
    }
    std::size_t count(const std::string& request) const {
        auto all = requests();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), request));
    }
    // Ends the connection at the next request and refuses new ones until listen().
    void hangUp() {
        accepting_ = false;
        hangUp_ = true;
    }
    void listen() { accepting_ = true; }
    // Reads requests but answers none.
    void fallSilent() { silent_ = true; }
    void setInfo(std::string info) {
        std::lock_guard guard(lock_);
        script_.info = std::move(info);
    }

private:
    // The listening socket on 127.0.0.1:7387, or -1.
    static int openListener() {
        int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(7387);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 8) != 0) {
            ::close(listener);
            return -1;
        }
        return listener;
    }

    void serve() {
        int listener = -1;
        while (!stop_) {
            if (accepting_ && listener < 0) {
                listener = openListener();
            } else if (!accepting_ && listener >= 0) {
                ::close(listener);
                listener = -1;
            }
            listening_ = listener >= 0;
            pollfd ready{listener, POLLIN, 0};
            if (listener < 0 || ::poll(&ready, 1, 20) <= 0) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                converse(connection);
                ::close(connection);
            }
        }
        if (listener >= 0) {
            ::close(listener);
        }
    }

    // One line, or nothing when the connection ended or the test is over.
    std::optional<std::string> line(int connection) {
        std::string text;
        for (;;) {
            pollfd ready{connection, POLLIN, 0};
            if (stop_) {
                return std::nullopt;
            }
            if (::poll(&ready, 1, 20) <= 0) {
                continue;
            }
            char byte = 0;
            if (::recv(connection, &byte, 1, 0) != 1) {
                return std::nullopt;
            }
            if (byte == '\n') {
                return text;
            }
            text += byte;
        }
    }

    void converse(int connection) {
        auto send = [&](const std::string& text) {
            if (!silent_) {
                ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
            }
        };
        auto handshake = line(connection);
        if (!handshake) {
            return;
        }
        record(*handshake);
        send(*handshake + "\n");
        while (auto request = line(connection)) {
            if (hangUp_.exchange(false)) {
                return;
            }
            std::string word = *request;
            if (word == "USER" || word == "APPLICATION" || word == "SESSION_INFO" ||
                word == "SESSION_HISTORY") {
                auto argument = line(connection);
                if (!argument) {
                    return;
                }
                word += " " + *argument;
                record(word);
                if (request == "SESSION_INFO") {
                    auto block = script_.sessions.find(*argument);
                    send(block == script_.sessions.end() ? "\n" : block->second);
                } else if (request == "SESSION_HISTORY") {
                    send(script_.history ? script_.history(*argument) : "\n");
                } else {
                    send("ACK\n");
                }
                continue;
            }
            record(word);
            if (word == "INFO") {
                std::unique_lock guard(lock_);
                std::string info = script_.info;
                guard.unlock();
                send(info);
            } else if (word == "AVAILABLE") {
                send("ACK\n");
            } else {
                return;
            }
        }
    }

    void record(const std::string& request) {
        std::lock_guard guard(lock_);
        requests_.push_back(request);
    }

    Script script_;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepting_{true};
    std::atomic<bool> listening_{false};
    std::atomic<bool> hangUp_{false};
    std::atomic<bool> silent_{false};
    std::thread thread_;
};

// A live session that has computed, and one that has not started its kernel.
const std::map<std::string, std::string> kTwoSessions = {
    {"17",
     "HOST:10.0.0.5:4000\nUSER:erin\nSINCE:131000000000000000\nSTATE:PROCESSING\n"
     "PROCESSING_TIME:5000\nMEMORY_USAGE:5242879\n\n"},
    {"18", "HOST:10.0.0.6:4001\nSINCE:131000000000000000\nSTATE:WAITING\n\n"},
};

TEST(MonitorPolling, AServerBeforeRevision28890NeverFillsTheLists) {
    ScriptedServer server({"VERSION:12.0.0 build 28889\nREVISION:28889\nHTTP:YES\n"
                           "TOTAL_SESSIONS:3\nSESSION:17\nSESSION:18\n\n",
                           kTwoSessions,
                           {}});
    Handle instance = InstanceLock::acquire(plexmill::protocol::serverInstanceName());
    ASSERT_TRUE(instance.isValid());
    MonitorState state;
    Poller poller(state, quickPolling());
    poller.start();
    ASSERT_TRUE(waitUntil([&] { return server.count("SESSION_INFO 17") >= 4; }, 10s));
    EXPECT_TRUE(state.responded);
    EXPECT_TRUE(state.accepting);
    EXPECT_TRUE(state.httpAvailable);
    EXPECT_EQ(state.totalSessions, 3U);
    EXPECT_EQ(state.activeCount(), 0U);
    EXPECT_TRUE(state.lists().recent.empty());
    // What INFO leaves out is "NO" and 0, not what it said before.
    server.setInfo("REVISION:28889\n\n");
    EXPECT_TRUE(waitUntil([&] { return !state.httpAvailable && state.totalSessions == 0; }, 10s));
    auto requests = server.requests();
    EXPECT_EQ(requests.at(0), std::string(kLegacyNamespaceUri));
    EXPECT_EQ(requests.at(1), "INFO");
    EXPECT_TRUE(requests.at(2).starts_with("USER ")) << requests[2];
    // Below 36300 the monitor does not name itself, and it never asks for the history.
    EXPECT_EQ(requests.at(3), "AVAILABLE");
    for (const auto& request : requests) {
        EXPECT_FALSE(request.starts_with("SESSION_HISTORY")) << request;
        EXPECT_FALSE(request.starts_with("APPLICATION")) << request;
    }
}

// "HOST", "USER", "STARTED" and "COMPLETED" lines of a finished session, newest first.
std::string historyRecords(int first, int last) {
    std::string records;
    for (int number = last; number >= first; --number) {
        records += "HOST:10.0.1." + std::to_string(number) + ":5000\n";
        // Every third session ran without a user name.
        if (number % 3 != 0) {
            records += "USER:user" + std::to_string(number) + "\n";
        }
        records += "STARTED:" + std::to_string(number * 10'000'000LL) + "\n";
        records += "COMPLETED:" + std::to_string(number * 10'000'000LL + 61'002'000) + "\n\n";
    }
    return records + "\n";
}

TEST(MonitorPolling, ListsShowTheServersSessionsAndReconnectStartsAfresh) {
    // 25 finished sessions at first, then a 26th.
    std::atomic<int> newest{25};
    ScriptedServer server({"REVISION:42604\nHTTP:NO\nTOTAL_SESSIONS:26\nSESSION:17\nSESSION:18\n\n",
                           kTwoSessions,
                           [&](const std::string& since) {
                               if (since == "0") {
                                   return historyRecords(1, newest);
                               }
                               // Only what completed at or after the argument.
                               long long from = std::stoll(since);
                               int first = 1;
                               while (first <= newest && first * 10'000'000LL + 61'002'000 < from) {
                                   ++first;
                               }
                               return historyRecords(first, newest);
                           }});
    Handle instance = InstanceLock::acquire(plexmill::protocol::serverInstanceName());
    MonitorState state;
    Poller poller(state, quickPolling());
    poller.start();
    ASSERT_TRUE(waitUntil([&] { return server.count("SESSION_HISTORY 311002001") >= 2; }, 10s));
    EXPECT_EQ(server.requests().at(3), "APPLICATION Quorvex Plexmill Monitor 14.1.0 build 42604");
    EXPECT_EQ(server.count("SESSION_HISTORY 0"), 1U);
    EXPECT_FALSE(state.httpAvailable);
    EXPECT_EQ(state.totalSessions, 26U);

    // Only the session that has computed is active; its memory in whole megabytes.
    auto lists = state.lists();
    ASSERT_EQ(lists.active.size(), 1U);
    EXPECT_TRUE(matches(lists.active[0], R"(\[10\.0\.0\.5\]: USER=erin SINCE=\S+ \S+ MEM=4Mb)"))
        << lists.active[0];
    // The 20 newest of 25, newest first; a session without a user shows none.
    ASSERT_EQ(lists.recent.size(), 20U);
    EXPECT_EQ(lists.recent.front(), "[10.0.1.25]: USER=user25 TIME=01:01.002");
    EXPECT_EQ(lists.recent[1], "[10.0.1.24]: USER= TIME=01:01.002");
    EXPECT_EQ(lists.recent.back(), "[10.0.1.6]: USER= TIME=01:01.002");

    newest = 26;
    ASSERT_TRUE(waitUntil([&] { return server.count("SESSION_HISTORY 321002001") >= 1; }, 10s));
    lists = state.lists();
    ASSERT_EQ(lists.recent.size(), 20U);
    EXPECT_EQ(lists.recent.front(), "[10.0.1.26]: USER=user26 TIME=01:01.002");
    EXPECT_EQ(lists.recent.back(), "[10.0.1.7]: USER=user7 TIME=01:01.002");

    // The server ends the connection and refuses new ones for a while: not responding.
    server.hangUp();
    ASSERT_TRUE(waitUntil([&] { return !state.responded; }, 10s));
    server.listen();
    // The new connection clears the lists and fills them again from the whole history.
    ASSERT_TRUE(waitUntil([&] { return server.count("SESSION_HISTORY 0") == 2; }, 10s));
    ASSERT_TRUE(waitUntil([&] { return state.responded.load(); }, 10s));
    ASSERT_TRUE(waitUntil([&] { return state.lists().recent.size() == 20; }, 10s));
    EXPECT_EQ(state.lists().recent.front(), "[10.0.1.26]: USER=user26 TIME=01:01.002");

    // A server that stops answering is not responding either, once a reply is overdue.
    server.fallSilent();
    EXPECT_TRUE(waitUntil([&] { return !state.responded; }, 10s));

    // Without the server's instance name nothing is asked and nothing responds.
    instance.close();
    std::size_t asked = server.requests().size();
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(state.responded);
    EXPECT_LE(server.requests().size(), asked + 1);
}

} // namespace
} // namespace tnw::test
