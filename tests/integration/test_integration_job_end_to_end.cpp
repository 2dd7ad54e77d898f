// A job end to end: transfers into the session folder, the kernel run, and --connect.
#include "tests/support/http_get.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/session_client.hpp"
#include "tests/support/session_server.hpp"
#include "tests/support/wait.hpp"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <set>
#include <signal.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace tnw::test {
namespace {

// A kernel folder with the test kernel as millcore.exe and its library beside it.
std::filesystem::path makeKernel(const ServerHome& home, bool withLibrary = true) {
    auto folder = home.path() / "kernel";
    installTestKernel(folder, withLibrary);
    return folder;
}

std::string runJob(SessionClient& client, const std::string& job) {
    EXPECT_EQ(client.handshake(), std::string(kCurrentNamespaceUri) + "\n");
    client.send("RUN\n\n" + std::to_string(job.size()) + "\n" + job);
    return client.receiveLine();
}

// The test kernel's "large" output: 'a' to 'z' over and over, restarting every 65536 bytes.
// Whether `bytes` are that output from `offset` on.
testing::AssertionResult isLargeOutput(std::string_view bytes, std::uint64_t offset = 0) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != static_cast<char>('a' + (offset + i) % 65536 % 26)) {
            return testing::AssertionFailure() << "byte " << offset + i << " is " << int(bytes[i]);
        }
    }
    return testing::AssertionSuccess() << offset + bytes.size() << " bytes of output";
}

// The file holds a prefix of the "large" output followed by "ACK\n".
testing::AssertionResult isLargeOutputThenAck(const std::filesystem::path& path) {
    std::uint64_t size = std::filesystem::file_size(path);
    if (size < 4) {
        return testing::AssertionFailure() << "only " << size << " bytes";
    }
    std::ifstream file(path, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::uint64_t offset = 0; offset < size - 4; offset += block.size()) {
        block.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - 4 - offset)));
        file.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (auto checked = isLargeOutput(block, offset); !checked) {
            return checked;
        }
    }
    std::string tail(4, '\0');
    file.read(tail.data(), 4);
    if (tail != "ACK\n") {
        return testing::AssertionFailure() << "ends with " << testing::PrintToString(tail);
    }
    return testing::AssertionSuccess() << size - 4 << " bytes of output";
}

// The session's own time-out (main loop) or the kernel's (relay) ends the run, whichever looks
// first; both are the configured value.
bool reportsTimeOut(ChildProcess& server) {
    return waitUntil(
        [&] {
            std::string output = server.output();
            return output.find("] Session timed out.\n") != std::string::npos ||
                   output.find("] Session terminated due to time out.\n") != std::string::npos;
        },
        10s);
}

bool waitForFileSize(const std::filesystem::path& path, std::uint64_t size) {
    return waitUntil(
        [&] {
            std::error_code error;
            return std::filesystem::file_size(path, error) >= size && !error;
        },
        20s,
        5ms);
}

std::vector<std::filesystem::path> threadsOf(pid_t pid) {
    std::vector<std::filesystem::path> threads;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        threads.push_back(task.path());
    }
    return threads;
}

// SIGINT sent to `pid` has been taken: it is no longer pending, and all threads of the process
// sleep again, so the console thread has told its listeners.
bool interruptTaken(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("ShdPnd:") &&
            (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (SIGINT - 1))) != 0) {
            return false;
        }
    }
    return std::ranges::all_of(threadsOf(pid), [](const auto& thread) {
        std::string stat = readText(thread / "stat");
        auto state = stat.rfind(") ");
        return state != std::string::npos && stat.compare(state + 2, 1, "S") == 0;
    });
}

// A thread of `pid` is blocked in a send: a socket of its has no room left.
bool sendBlocked(pid_t pid) {
    // The kernel relay moves output with splice, everything else sends.
    const std::string sending = std::to_string(SYS_sendto) + " ";
    const std::string splicing = std::to_string(SYS_splice) + " ";
    return std::ranges::any_of(threadsOf(pid), [&](const auto& thread) {
        // The system call the thread waits in, with its arguments.
        std::string call = readText(thread / "syscall");
        return call.starts_with(sending) || call.starts_with(splicing);
    });
}

// status.json as the server's status port serves it now.
std::string statusDocument() {
    return httpGet("/json/status.json");
}

// The number after `"key": ` in the document; -1 when it is not there.
long long jsonNumber(const std::string& document, const std::string& key) {
    std::smatch match;
    return std::regex_search(document, match, std::regex("\"" + key + "\": (\\d+)"))
               ? std::stoll(match[1].str())
               : -1;
}

// The status texts of the session history in status.json, newest first.
std::vector<std::string> historyStatuses(const std::string& document) {
    std::vector<std::string> statuses;
    const std::string start = "\"closedSessions\": [\n";
    const std::size_t at = document.find(start);
    if (at == std::string::npos) {
        return statuses;
    }
    const std::string records = document.substr(at + start.size());
    const std::regex status("\"status\": \"([^\"]*)\"\\}");
    for (auto it = std::sregex_iterator(records.begin(), records.end(), status);
         it != std::sregex_iterator();
         ++it) {
        statuses.push_back((*it)[1].str());
    }
    return statuses;
}

// Every file and folder under `root` but session folders, logs and the test clock: what a
// refused command must not have added to.
std::set<std::string> lastingFiles(const std::filesystem::path& root) {
    std::set<std::string> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         it != std::filesystem::recursive_directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("session-")) {
            it.disable_recursion_pending();
        } else if (!name.ends_with(".log") && !name.starts_with("clock")) {
            files.insert(std::filesystem::relative(it->path(), root).string());
        }
    }
    return files;
}

// Sends all of `bytes`; false when the peer is gone.
bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Passes one connection on `port` through to the server's session port and runs `beforeRun`
// just before the line end of the client's RUN goes on, so that the server's state can change
// between admitting the session and reading its RUN. The client sees the server's end of the
// session as an orderly close whatever it sent: what the server no longer reads is dropped.
class RunInterposer {
public:
    RunInterposer(std::uint16_t port, std::function<void()> beforeRun)
        : beforeRun_(std::move(beforeRun)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int reuse = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 1) != 0) {
            throw std::runtime_error("cannot listen on port " + std::to_string(port));
        }
        thread_ = std::thread([this] { relay(); });
    }
    ~RunInterposer() {
        thread_.join();
        ::close(listener_);
    }
    RunInterposer(const RunInterposer&) = delete;
    RunInterposer& operator=(const RunInterposer&) = delete;

private:
    void relay() {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 60'000) != 1) {
            ADD_FAILURE() << "the client never connected";
            return;
        }
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = connectTcp(7387);
        try {
            pass(client, server);
        } catch (const std::exception& failure) {
            ADD_FAILURE() << failure.what();
        }
        ::close(server);
        ::close(client);
    }

    void pass(int client, int server) {
        // Per direction: its source still sends, and its destination still takes bytes.
        bool reading[2] = {true, true};
        bool writing[2] = {true, true};
        const int source[2] = {client, server};
        const int destination[2] = {server, client};
        std::string sent; // by the client, until its RUN
        bool ran = false;
        char buffer[65536];
        while (reading[0] || reading[1]) {
            // A source that has ended is left out: poll would report its hang-up for ever.
            pollfd ready[2] = {{reading[0] ? client : -1, POLLIN, 0},
                               {reading[1] ? server : -1, POLLIN, 0}};
            if (::poll(ready, 2, 60'000) <= 0) {
                ADD_FAILURE() << "the session went quiet";
                return;
            }
            for (int way = 0; way < 2; ++way) {
                if (ready[way].revents == 0) {
                    continue;
                }
                const ssize_t got = ::recv(source[way], buffer, sizeof buffer, 0);
                if (got <= 0) {
                    reading[way] = false;
                    ::shutdown(destination[way], SHUT_WR);
                    continue;
                }
                std::string_view bytes(buffer, static_cast<std::size_t>(got));
                if (way == 0 && !ran) {
                    sent.append(bytes);
                    const std::size_t run = sent.find("\nRUN\n");
                    if (run != std::string::npos) {
                        // The line end is the last byte of the match, so it came with this piece.
                        const std::size_t before = run + 4 - (sent.size() - bytes.size());
                        writing[0] = writing[0] && sendAll(server, bytes.substr(0, before));
                        beforeRun_();
                        bytes.remove_prefix(before);
                        ran = true;
                    }
                }
                writing[way] = writing[way] && sendAll(destination[way], bytes);
            }
        }
    }

    std::function<void()> beforeRun_;
    int listener_ = -1;
    std::thread thread_;
};

// The shift of the clock that brings local time to the next noon.
std::uint64_t untilLocalNoon() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const long seconds = local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec;
    return static_cast<std::uint64_t>((12 * 3600L - seconds + 86400L) % 86400L) * 1'000'000ULL;
}

class JobSession : public testing::Test {
protected:
    void start(std::vector<std::string> extra = {}, bool withLibrary = true) {
        std::vector<std::string> arguments = {
            "--rating", "5000", "--kernel", makeKernel(home, withLibrary).string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        server = std::make_unique<ServerProcess>(home, arguments);
        ASSERT_TRUE(server->waitUntilReady()) << server->process().errors();
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(server->stop(), 0);
            // No session folder outlives its session.
            for (const auto& entry :
                 std::filesystem::directory_iterator(home.intermediateFolder())) {
                EXPECT_FALSE(entry.path().filename().string().starts_with("session-"))
                    << entry.path();
            }
        }
    }
    ServerHome home;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(JobSession, JobAndFilesReachTheKernelAndItsOutputComesBack) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "copy\n"), "ACK\n");
    client.send("FILE\npart_01.NC\n5\nG0 X1");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    std::string result = client.receiveUntilEnd();
    EXPECT_NE(result.find("ARGS [millcore] [-p] [--proc] [-k] ["), std::string::npos) << result;
    EXPECT_NE(result.find("FILE job.tornwell-job copy\n"), std::string::npos);
    EXPECT_NE(result.find("FILE part_01.NC G0 X1\n"), std::string::npos);
    EXPECT_NE(result.find("\nTEMP " + home.intermediateFolder().string() + "/session-"),
              std::string::npos);
    EXPECT_TRUE(result.ends_with("ACK\n"));
}

TEST_F(JobSession, TransferRefusalsEndTheSessionWithTheirReason) {
    start({"--size", "1", "--verbose", "--http", "--nocache"});
    // An answer on the status port comes from the main loop, so the server has made every
    // folder it makes at its start (the file cache's comes after "now ready").
    ASSERT_TRUE(waitUntil([] { return !statusDocument().empty(); }, 20s));
    const std::string job = "RUN\n\n5\ncopy\n";
    // The copy kernel's listing of a session folder that holds the job alone.
    const std::string onlyTheJob = "FILE job.tornwell-job copy\n\n";
    struct Case {
        std::string commands;
        std::string replies; // up to the kernel's output
        std::string listing; // the kernel's listing of the session folder; empty: no kernel ran
        const char* status;  // the session's record in the history
        long long failures;  // the server's failure count after the session
        std::string printed; // its console line (standard output or error)
    };
    const char* const sizeExceeded = "Session terminated due to exceeded maximum size";
    const Case cases[] = {
        {"RUN\n\n16777216\n", "", "", sizeExceeded, 1, "Invalid job size."},
        {"RUN\n{bad}\n", "\n", "", "Session terminated", 2, "Invalid guid."},
        // The job is in when a file is refused: the kernel still runs, and sees no file.
        {job + "FILE\n../x\n1\nx",
         "ACK\n",
         onlyTheJob,
         "Session terminated",
         3,
         "Invalid filename: '../x'."},
        {job + "FILE\n..\n1\nx",
         "ACK\n",
         onlyTheJob,
         "Session terminated",
         4,
         "Invalid filename: '..'."},
        {job + "FILE\na/b\n1\nx",
         "ACK\n",
         onlyTheJob,
         "Session terminated",
         5,
         "Invalid filename: 'a/b'."},
        {job + "FILE\na\n0\n", "ACK\n", onlyTheJob, sizeExceeded, 6, "Invalid data size."},
        {job + "FILE\na\n4294967296\n", "ACK\n", onlyTheJob, sizeExceeded, 7, "Invalid data size."},
        {job + "FILE\na\n1048577\n",
         "ACK\n",
         onlyTheJob,
         sizeExceeded,
         8,
         "Error: Failed to transfer file."},
        {job + "FILE\na\n1\nxFILE\na\n1\nx",
         "ACK\nACK\n",
         "FILE a x\n" + onlyTheJob,
         "Session terminated",
         9,
         "Invalid duplicate filename: 'a'."},
        {job + "FILE_CACHE\na\n" + std::string(64, '0') + "\n5\nFILE\na\n1\nx",
         "ACK\n\n",
         onlyTheJob,
         "Session terminated",
         10,
         "Invalid duplicate filename: 'a'."},
        // A query with a bad size is answered "no" and refuses nothing.
        {job + "IS_FILE_CACHED\nabc\nx\nDONE\n", "ACK\n\nACK\n", onlyTheJob, "Success", 10, ""},
    };
    const auto files = lastingFiles(home.path());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& test = cases[i];
        SCOPED_TRACE(testing::PrintToString(test.commands.substr(0, 60)));
        const std::string output = server->process().output();
        const std::string errors = server->process().errors();
        SessionClient client;
        client.handshake();
        client.send(test.commands);
        const std::string received = client.receiveUntilEnd(20s);
        ASSERT_TRUE(received.starts_with(test.replies)) << received;
        const std::string kernelOutput = received.substr(test.replies.size());
        if (test.listing.empty()) {
            EXPECT_EQ(kernelOutput, "");
        } else {
            EXPECT_TRUE(kernelOutput.starts_with("ARGS [millcore]")) << kernelOutput;
            EXPECT_TRUE(kernelOutput.ends_with("\nJOB copy\n\n" + test.listing + "ACK\n"))
                << kernelOutput;
        }
        client.close();
        // Every case is a job session: once it has ended, its record heads the history.
        std::string document;
        EXPECT_TRUE(waitUntil(
            [&] {
                document = statusDocument();
                return historyStatuses(document).size() == i + 1;
            },
            20s))
            << document;
        auto statuses = historyStatuses(document);
        EXPECT_EQ(statuses.empty() ? "" : statuses.front(), test.status);
        EXPECT_EQ(jsonNumber(document, "failures"), test.failures);
        if (!test.printed.empty()) {
            const std::string console = server->process().output().substr(output.size()) +
                                        server->process().errors().substr(errors.size());
            EXPECT_NE(console.find("] " + test.printed + "\n"), std::string::npos) << console;
        }
        EXPECT_EQ(lastingFiles(home.path()), files);
    }
    SessionClient accepted;
    accepted.handshake();
    accepted.send("FILE\na\n1048576\n" + std::string(1048576, 'x'));
    EXPECT_EQ(accepted.receiveLine(), "ACK\n");
}

TEST_F(JobSession, AbortDuringSilenceStopsTheKernel) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "silent 3600\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_TRUE(client.staysQuiet(500ms));
    client.send("ABORT\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "ACK\n");
}

TEST_F(JobSession, KernelOutputArrivesWholeAndInOrderBeforeTheReply) {
    start();
    // Not a multiple of the 65536-byte pieces, nor of the pipe's buffer.
    for (std::uint64_t size : {std::uint64_t{1}, std::uint64_t{65537}, std::uint64_t{5'000'003}}) {
        SCOPED_TRACE(size);
        SessionClient client;
        EXPECT_EQ(runJob(client, "large " + std::to_string(size) + "\n"), "ACK\n");
        client.send("DONE\n");
        EXPECT_EQ(client.receiveLine(), "ACK\n");
        std::string result = client.receiveUntilEnd(60s);
        ASSERT_EQ(result.size(), size + 4);
        EXPECT_TRUE(isLargeOutput(std::string_view(result).substr(0, size)));
        EXPECT_EQ(result.substr(size), "ACK\n");
    }
}

TEST_F(JobSession, AbortDuringOutputStopsTheKernel) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "large 1099511627776\n"), "ACK\n"); // a terabyte
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    std::string first = client.receive(1 << 20);
    EXPECT_EQ(first.size(), 1U << 20);
    EXPECT_TRUE(isLargeOutput(first));
    client.send("ABORT\n");
    std::string rest = client.receiveUntilEnd(20s);
    EXPECT_TRUE(rest.ends_with("ACK\n")) << rest.size();
    EXPECT_LT(rest.size(), 1ULL << 34);
}

TEST_F(JobSession, AChildHoldingTheOutputDoesNotKeepTheRunGoing) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "child\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "parent\nACK\n");
}

TEST_F(JobSession, CrashingKernelStillEndsTheRun) {
    start();
    SessionClient client;
    EXPECT_EQ(runJob(client, "crash\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "before crash\nACK\n");
}

TEST_F(JobSession, MissingKernelLibraryIsReported) {
    start({}, false);
    SessionClient client;
    EXPECT_EQ(runJob(client, "copy\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    EXPECT_EQ(client.receiveUntilEnd(10s), "\n");
    EXPECT_TRUE(server->process().waitForError("Error: Failed to find CAM kernel library.\n"));
}

TEST_F(JobSession, ConnectWritesTheResultAndUsesTheCacheTheSecondTime) {
    start();
    writeFile(home.path() / "job", "copy\n");
    writeFile(home.path() / "part.nc", std::string(100000, 'p'));
    std::vector<std::string> command = {PLEXMILLD_PATH,
                                        "--connect",
                                        "127.0.0.1",
                                        (home.path() / "job").string(),
                                        (home.path() / "result").string(),
                                        (home.path() / "part.nc").string(),
                                        "--debug"};
    auto first = run(command, home.environment());
    EXPECT_EQ(first.exitCode, 0) << first.errors;
    std::string result = readText(home.path() / "result");
    EXPECT_NE(result.find("FILE part.nc ppp"), std::string::npos);
    EXPECT_TRUE(result.ends_with("ACK\n"));
    // The first session ends once its client has gone (a one-core server takes one job at a
    // time), and the server takes a received file into its cache after it acknowledged it.
    EXPECT_TRUE(waitForOpenSessions("1"));
    EXPECT_TRUE(waitUntil(
        [&] {
            return run({PLEXMILLD_PATH,
                        "--iscached",
                        "127.0.0.1",
                        (home.path() / "part.nc").string()},
                       home.environment())
                       .exitCode == 0;
        },
        20s));
    auto second = run(command, home.environment());
    EXPECT_EQ(second.exitCode, 0) << second.errors << server->process().output()
                                  << server->process().errors();
    EXPECT_NE(
        second.output.find("Using file from cache PATH=" + (home.path() / "part.nc").string()),
        std::string::npos)
        << second.output;
    EXPECT_NE(readText(home.path() / "result").find("FILE part.nc ppp"), std::string::npos);
}

TEST_F(JobSession, ConnectFailuresExitWithOne) {
    start();
    writeFile(home.path() / "empty", "");
    auto missing =
        run({PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "nojob").string(), "r"},
            home.environment());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.errors.find("Error: Job does not exist.\n"), std::string::npos);
    auto noResult =
        run({PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "empty").string()},
            home.environment());
    EXPECT_EQ(noResult.exitCode, 1);
    EXPECT_NE(noResult.errors.find("Error: Failed to open result file.\n"), std::string::npos);
    auto empty = run({PLEXMILLD_PATH,
                      "--connect",
                      "127.0.0.1",
                      (home.path() / "empty").string(),
                      (home.path() / "r").string()},
                     home.environment());
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.errors.find("Error: Failed to transfer file '"), std::string::npos)
        << empty.errors;
}

TEST_F(JobSession, ConnectFailsWhenTheServerEndsTheSessionBeforeDone) {
    // Files beyond 1 MB in all are refused, one job session at a time, work from 11:00 to
    // 13:00 only; the server's clock shows noon.
    home.advanceClock(untilLocalNoon());
    home.setMachineNumbers({{"maximum number of sessions", 1}});
    start({"--size", "1", "--time", "1100-1300", "--timeout", "600", "--verbose"});
    writeFile(home.path() / "job", "copy\n");
    writeFile(home.path() / "big.nc", std::string(16 << 20, 'x'));
    const auto big = (home.path() / "big.nc").string();
    const auto connect = [&](const std::string& server, const std::vector<std::string>& files) {
        std::vector<std::string> command = {PLEXMILLD_PATH,
                                            "--connect",
                                            server,
                                            (home.path() / "job").string(),
                                            (home.path() / "r").string()};
        command.insert(command.end(), files.begin(), files.end());
        return run(command, home.environment());
    };

    // Refused while the client is still sending: the end may reach it as a reset, and what
    // it says depends on where that finds it. The job never got its file, so that is no
    // success.
    auto refused = connect("127.0.0.1", {big});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.errors.find("Error: "), std::string::npos) << refused.errors;
    EXPECT_EQ(refused.output.find("Remote session completed."), std::string::npos)
        << refused.output;

    // RUN refused because the server does not accept work at that moment. The interposer
    // makes it so between the admission of the session and its RUN.
    std::unique_ptr<SessionClient> holder; // a job session in the only slot
    struct Case {
        const char* what;
        std::function<void()> beforeRun;
    };
    const Case cases[] = {
        {"the only session slot taken",
         [&] {
             holder = std::make_unique<SessionClient>();
             EXPECT_EQ(runJob(*holder, "copy\n"), "ACK\n");
         }},
        {"outside the allowed times", [&] { home.advanceClock(2 * 3600'000'000ULL); }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        const std::size_t printed = server->process().output().size();
        RunResult result;
        {
            RunInterposer interposer(7390, test.beforeRun);
            result = connect("127.0.0.1:7390", {});
        }
        EXPECT_EQ(result.exitCode, 1);
        // One line, after the time prefix; nothing on standard output.
        EXPECT_TRUE(result.errors.ends_with("] Error: Failed to transfer job.\n")) << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(readText(home.path() / "r"), "");
        EXPECT_TRUE(waitUntil(
            [&] {
                return server->process().output().find("] Currently not accepting.\n", printed) !=
                       std::string::npos;
            },
            10s))
            << server->process().output();
        holder.reset();
        EXPECT_TRUE(waitForNoSessionFolders(home));
    }
}

TEST_F(JobSession, CtrlCWhileReceivingSendsAbort) {
    start({"--debug"});
    writeFile(home.path() / "job", "silent 3600\n");
    ChildProcess client({PLEXMILLD_PATH,
                         "--connect",
                         "127.0.0.1",
                         (home.path() / "job").string(),
                         (home.path() / "result").string()},
                        home.environment());
    // The kernel runs: the client is past DONE and waits for the result.
    ASSERT_TRUE(server->process().waitForOutput("CAM kernel started."));
    client.signal(SIGINT);
    EXPECT_EQ(client.wait(20s), 1);
    EXPECT_NE(client.errors().find("Error: Aborted by user.\n"), std::string::npos)
        << client.errors();
    EXPECT_EQ(readText(home.path() / "result"), "");
    // The server got the ABORT and stopped the kernel long before its hour.
    EXPECT_TRUE(server->process().waitForOutput("Got command 'ABORT'."));
    EXPECT_TRUE(waitForNoSessionFolders(home));
}

TEST_F(JobSession, TheTimeOutEndsASilentKernel) {
    start({"--timeout", "1", "--verbose"});
    SessionClient client;
    EXPECT_EQ(runJob(client, "silent 3600\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    // The relay's first status line: the kernel runs and its time counts.
    ASSERT_TRUE(server->process().waitForOutput(" n/a Time:"));
    // Short of the minute nothing ends.
    home.advanceClock(58'000'000);
    EXPECT_TRUE(client.staysQuiet(500ms));
    home.advanceClock(3'000'000);
    // The reply after the (empty) output is still the success of the run.
    EXPECT_EQ(client.receiveUntilEnd(20s), "ACK\n");
    EXPECT_TRUE(reportsTimeOut(server->process())) << server->process().output();
}

TEST_F(JobSession, TheTimeOutEndsAKernelThatIsWriting) {
    start({"--timeout", "1", "--verbose"});
    // A terabyte: the kernel is still writing when the time-out comes.
    writeFile(home.path() / "job", "large 1099511627776\n");
    auto result = home.path() / "result";
    ChildProcess client(
        {PLEXMILLD_PATH, "--connect", "127.0.0.1", (home.path() / "job").string(), result.string()},
        home.environment());
    ASSERT_TRUE(waitForFileSize(result, 1 << 20)) << client.errors();
    home.advanceClock(61'000'000);
    EXPECT_EQ(client.wait(60s), 0) << client.errors();
    EXPECT_EQ(client.output(), "");
    EXPECT_EQ(client.errors(), "");
    EXPECT_TRUE(isLargeOutputThenAck(result));
    EXPECT_TRUE(reportsTimeOut(server->process())) << server->process().output();
}

TEST_F(JobSession, CtrlCBeforeAFurtherFileStopsWithoutAbort) {
    start({"--debug"});
    writeFile(home.path() / "job", "copy\n");
    writeFile(home.path() / "part.nc", "G0 X1\n");
    auto result = home.path() / "result";
    // The stopped server holds the client in its handshake, so the interrupt surely lands
    // before the first further file.
    server->process().signal(SIGSTOP);
    struct Resume {
        ChildProcess& server;
        ~Resume() { server.signal(SIGCONT); }
    } resume{server->process()};
    ChildProcess client({PLEXMILLD_PATH,
                         "--connect",
                         "127.0.0.1",
                         (home.path() / "job").string(),
                         result.string(),
                         (home.path() / "part.nc").string()},
                        home.environment());
    // The result file exists once the client listens for Ctrl+C.
    ASSERT_TRUE(waitForFileSize(result, 0)) << client.errors();
    client.signal(SIGINT);
    ASSERT_TRUE(waitUntil([&] { return interruptTaken(client.pid()); }, 10s, 1ms));
    server->process().signal(SIGCONT);
    EXPECT_EQ(client.wait(20s), 1);
    // One line, after the time prefix.
    std::string errors = client.errors();
    EXPECT_TRUE(errors.ends_with("] Error: Aborted by user.\n")) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(client.output(), "");
    EXPECT_EQ(readText(result), "");
    // The job went over; no file, no DONE and no ABORT followed it.
    ASSERT_TRUE(waitForNoSessionFolders(home));
    std::string log = server->process().output();
    EXPECT_NE(log.find("Got command 'RUN'."), std::string::npos) << log;
    for (const char* command : {"'FILE'", "'FILE_CACHE'", "'DONE'", "'ABORT'"}) {
        EXPECT_EQ(log.find(std::string("Got command ") + command), std::string::npos) << log;
    }
}

TEST_F(JobSession, AClientThatStopsReadingDoesNotKeepTheKernelPastTheTimeOut) {
    start({"--timeout", "1", "--verbose"});
    SessionClient client;
    EXPECT_EQ(runJob(client, "large 1099511627776\n"), "ACK\n");
    client.send("DONE\n");
    EXPECT_EQ(client.receiveLine(), "ACK\n");
    // From here the client reads nothing: the output fills the connection, and the relay
    // waits in a send.
    ASSERT_TRUE(waitUntil([&] { return sendBlocked(server->process().pid()); }, 20s));
    home.advanceClock(61'000'000);
    EXPECT_TRUE(reportsTimeOut(server->process())) << server->process().output();
    // A client that reads slowly still gets a while to take the last output...
    EXPECT_FALSE(waitForNoSessionFolders(home, 500ms));
    // ...this one does not, and loses the connection; the kernel and the session end.
    home.advanceClock(11'000'000);
    EXPECT_TRUE(waitForNoSessionFolders(home));
    std::string relayed = client.receiveUntilEnd(20s);
    EXPECT_TRUE(isLargeOutput(relayed));
    EXPECT_TRUE(client.endedByServer());
}

} // namespace
} // namespace tnw::test
